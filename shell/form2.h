#pragma once

#include "formwindow.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class QListWidget;

namespace zarn {

// "About ZARN": the lines of the text file zarn.txt, one list line per text
// line, read afresh each time the window is loaded (its first show, and the
// first show after the user closed it). Choosing About while the window is
// open only brings it to the front.
// The file is looked for in each of the window's folders in turn: beside the
// program (a build tree), then in the installation's share/zarn. When it is
// in none of them or cannot be read, the list holds one line that says so
// and names the paths it looked for.
class Form2 : public FormWindow {
    Q_OBJECT
public:
    // The folders of an installed or built program in `programFolder`.
    static QStringList TextFolders(const QString& programFolder);

    // `folders`: where zarn.txt is looked for, first match wins; those of the
    // running program unless a test points elsewhere.
    explicit Form2(QStringList folders = TextFolders(QCoreApplication::applicationDirPath()));
    explicit Form2(const QString& folder) : Form2(QStringList{folder}) {}

    static constexpr const char* FileName = "zarn.txt";

private:
    void Load(QWidget& window) override;
    void Unload() override;

    void Form2_Form_Load();

    QStringList folders_;
    QListWidget* List1_ = nullptr;
};

}  // namespace zarn
