#include "localenumber.h"

#include <QTest>

#include <optional>
#include <type_traits>

using namespace zarn;

Q_DECLARE_METATYPE(std::optional<std::int32_t>)
Q_DECLARE_METATYPE(std::optional<std::int16_t>)
Q_DECLARE_METATYPE(std::optional<float>)

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

// Both sides of a comparison as text, so that a failure shows the values.
template <class T>
QString Show(const std::optional<T>& value)
{
    if (!value) {
        return QStringLiteral("not numeric");
    }
    if constexpr (std::is_floating_point_v<T>) {
        return QString::number(*value, 'g', 9);
    } else {
        return QString::number(*value);
    }
}

}  // namespace

class LocaleNumberTest : public QObject {
    Q_OBJECT

private slots:
    void lineWidth_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<std::int32_t>>("expected");
        const std::optional<std::int32_t> none;

        QTest::newRow("typed digits are a whole number") << English << "12" << std::optional<std::int32_t>(12);
        QTest::newRow("leading zeros count for nothing") << English << "007" << std::optional<std::int32_t>(7);
        QTest::newRow("empty text is not numeric") << English << "" << none;
        QTest::newRow("blanks alone are not numeric") << English << "   " << none;
        QTest::newRow("blanks around a number are allowed") << English << " 4 " << std::optional<std::int32_t>(4);
        QTest::newRow("a half goes down to the even 2") << English << "2.5" << std::optional<std::int32_t>(2);
        QTest::newRow("a half goes up to the even 4") << English << "3.5" << std::optional<std::int32_t>(4);
        QTest::newRow("a negative half goes to the even -2") << English << "-2.5" << std::optional<std::int32_t>(-2);
        QTest::newRow("more than a half rounds up") << English << "2.51" << std::optional<std::int32_t>(3);
        QTest::newRow("a point with nothing after it is numeric") << English << "3." << std::optional<std::int32_t>(3);
        QTest::newRow("a fraction without a leading digit is numeric") << English << ".6" << std::optional<std::int32_t>(1);
        QTest::newRow("a lone point is not numeric") << English << "." << none;
        QTest::newRow("a lone sign is not numeric") << English << "-" << none;
        QTest::newRow("an explicit plus sign is allowed") << English << "+3" << std::optional<std::int32_t>(3);
        QTest::newRow("an exponent scales the number") << English << "1.5E2" << std::optional<std::int32_t>(150);
        QTest::newRow("a negative exponent gives a fraction") << English << "25e-1" << std::optional<std::int32_t>(2);
        QTest::newRow("an exponent without digits is not numeric") << English << "1e" << none;
        QTest::newRow("a unit after the number is not numeric") << English << "3px" << none;
        QTest::newRow("two numbers are not numeric") << English << "3 4" << none;
        QTest::newRow("two decimal points are not numeric") << English << "1.2.3" << none;
        QTest::newRow("a group separator is not accepted") << English << "1,000" << none;
        QTest::newRow("hexadecimal is not numeric") << English << "0x10" << none;
        QTest::newRow("infinity is not numeric") << English << "inf" << none;
        QTest::newRow("not-a-number is not numeric") << English << "nan" << none;
        QTest::newRow("the largest 32-bit integer fits") << English << "2147483647" << std::optional<std::int32_t>(2147483647);
        QTest::newRow("one above the largest 32-bit integer does not") << English << "2147483648" << none;
        QTest::newRow("a half above the largest rounds out of range") << English << "2147483647.5" << none;
        QTest::newRow("the smallest 32-bit integer fits") << English << "-2147483648" << std::optional<std::int32_t>(-2147483647 - 1);
        QTest::newRow("one below the smallest 32-bit integer does not") << English << "-2147483649" << none;
        QTest::newRow("a number beyond double range is not numeric") << English << "1e400" << none;
        QTest::newRow("German: the comma is the decimal separator") << German << "2,5" << std::optional<std::int32_t>(2);
        QTest::newRow("German: a comma half goes up to the even 4") << German << "3,5" << std::optional<std::int32_t>(4);
        QTest::newRow("German: the point is a group separator, not accepted") << German << "3.5" << none;
        QTest::newRow("German: digits alone are numeric") << German << "17" << std::optional<std::int32_t>(17);
    }

    void lineWidth()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QFETCH(std::optional<std::int32_t>, expected);
        QCOMPARE(Show(TextToInt32(text, locale)), Show(expected));
    }

    void centroidSize_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<std::int16_t>>("expected");
        const std::optional<std::int16_t> none;

        QTest::newRow("the largest 16-bit integer fits") << "32767" << std::optional<std::int16_t>(32767);
        QTest::newRow("one above the largest 16-bit integer does not") << "32768" << none;
        QTest::newRow("a fraction just below the limit rounds into range") << "32767.4" << std::optional<std::int16_t>(32767);
        QTest::newRow("a half below the limit rounds to the even limit-1") << "32766.5" << std::optional<std::int16_t>(32766);
        QTest::newRow("the smallest 16-bit integer fits") << "-32768" << std::optional<std::int16_t>(-32768);
        QTest::newRow("one below the smallest 16-bit integer does not") << "-32769" << none;
        QTest::newRow("zero is a size like any other") << "0" << std::optional<std::int16_t>(0);
        QTest::newRow("a half goes to the even 0") << "0.5" << std::optional<std::int16_t>(0);
    }

    void centroidSize()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<std::int16_t>, expected);
        QCOMPARE(Show(TextToInt16(text, English)), Show(expected));
    }

    void fontSize_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<float>>("expected");
        const std::optional<float> none;

        QTest::newRow("whole points") << English << "10" << std::optional<float>(10.0F);
        QTest::newRow("a fraction is kept, not rounded to whole points") << English << "12.5" << std::optional<float>(12.5F);
        QTest::newRow("German: a comma fraction is kept") << German << "8,25" << std::optional<float>(8.25F);
        QTest::newRow("a value is rounded to single precision") << English << "0.1" << std::optional<float>(0.1F);
        QTest::newRow("the largest float is accepted") << English << "3.4028234663852886e38" << std::optional<float>(3.4028234663852886e38F);
        QTest::newRow("a number beyond the float range is not") << English << "1e39" << none;
        QTest::newRow("empty text is not numeric") << English << "" << none;
    }

    void fontSize()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QFETCH(std::optional<float>, expected);
        QCOMPARE(Show(TextToSingle(text, locale)), Show(expected));
    }
};

QTEST_APPLESS_MAIN(LocaleNumberTest)
#include "localenumber_test.moc"
