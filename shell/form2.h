#pragma once

#include "formwindow.h"

#include <QCoreApplication>
#include <QString>

class QListWidget;

namespace zarn {

// "About ZARN": the lines of the text file zarn.txt from the program's
// folder, one list line per text line, read afresh each time the window is
// loaded (its first show, and the first show after the user closed it).
// Choosing About while the window is open only brings it to the front.
// When the file is missing or cannot be read, the list holds one line that
// says so and names the path it looked for.
class Form2 : public FormWindow {
    Q_OBJECT
public:
    // `folder`: where zarn.txt is looked for; the program's folder unless a
    // test points elsewhere.
    explicit Form2(QString folder = QCoreApplication::applicationDirPath());

    static constexpr const char* FileName = "zarn.txt";

private:
    void Load(QWidget& window) override;
    void Unload() override;

    void Form2_Form_Load();

    QString folder_;
    QListWidget* List1_ = nullptr;
};

}  // namespace zarn
