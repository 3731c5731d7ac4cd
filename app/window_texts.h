#pragma once
// Texts only the window shows: message box texts, whose leading blanks place
// them and are part of them, and Memo1 lines. They are the Main window's texts
// to translate.
#include "features/config/config_commands.h"

#include <QCoreApplication>
#include <QString>

namespace tessavin::window_text {

// The configuration link's message boxes.
inline QString ok() { return QCoreApplication::translate("TForm1", "       OK"); }
inline QString noPort() { return QCoreApplication::translate("TForm1", "       COM?"); }
// A failed transfer (Upload, Upload Test Config, the download).
inline QString transferFailed() { return QCoreApplication::translate("TForm1", "      NOT OK"); }
// A failed Set test or Reboot: one blank after NOT OK.
inline QString commandFailed() { return QCoreApplication::translate("TForm1", "      NOT OK "); }

// The message for a status query result: "      NOT OK = -1", "       OK",
// "   NOT OK = " followed by "bad json", "no memory", "no file" or nothing.
inline QString statusQuery(int status)
{
    const int blanks = status == config_status::kFailed ? 6 : status == config_status::kOk ? 7 : 3;
    return QString(blanks, QLatin1Char(' ')) + StatusQueryText(status);
}

// The Memo1 line of a download started with no record choice box ticked.
inline QString noRecordChoice()
{
    return QCoreApplication::translate("TForm1",
                                       "No record choice ticked (10, 100, 500, последних or 1): nothing read.");
}

} // namespace tessavin::window_text
