#pragma once
// The real window set up for a test: the four windows in their order, settings
// in a temporary folder, dialogs answered by the test, and the process end caught.
#include "form1.h"
#include "form2.h"
#include "okbottomdlg.h"
#include "ui_seam.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace tessavin::test {

// Answers the window's questions from queues the test fills; records messages.
class ScriptedSeam : public UiSeam {
public:
    QStringList messages;
    QList<int> confirmAnswers;      // modal results; empty: 2 ("НЕТ")
    QList<QString> openAnswers;     // paths; empty string: cancelled
    QList<QString> saveAnswers;
    int confirmCount = 0;
    int openCount = 0;
    int saveCount = 0;
    QString lastSaveSuffix;
    QString lastOpenSuffix;
    QString lastFilter;

    void showMessage(QWidget*, const QString& text) override { messages << text; }
    int confirm(TOKBottomDlg&) override
    {
        ++confirmCount;
        return confirmAnswers.isEmpty() ? 2 : confirmAnswers.takeFirst();
    }
    QString openFileName(QWidget*, const QString& suffix, const QString& filter) override
    {
        ++openCount;
        lastOpenSuffix = suffix;
        lastFilter = filter;
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget*, const QString& suffix, const QString& filter) override
    {
        ++saveCount;
        lastSaveSuffix = suffix;
        lastFilter = filter;
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
};

struct WindowFixture {
    explicit WindowFixture(LinkTiming timing = {}, QString settingsDir = {})
    {
        AppOptions options;
        options.settingsDir = settingsDir.isEmpty() ? dir.path() : settingsDir;
        options.fallbackSettingsDir = dir.filePath(QStringLiteral("user"));
        options.timing = timing;
        options.exitProcess = [this] { ++exits; };
        form1 = std::make_unique<TForm1>(options);
        form2 = std::make_unique<TForm2>();
        form3 = std::make_unique<TForm3>();
        dialog = std::make_unique<TOKBottomDlg>(form1.get(), form1.get());
        form1->attachWindows(form2.get(), form3.get(), dialog.get());
        form1->setSeam(&seam);
    }
    ~WindowFixture() { form1->session().link.close(); }

    QTemporaryDir dir;
    ScriptedSeam seam;
    int exits = 0;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TOKBottomDlg> dialog;

};

} // namespace tessavin::test
