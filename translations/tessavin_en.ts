<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru">
<context>
    <name>ArchiveChartWindow</name>
    <message>
        <source>Archive chart</source>
        <translation>Archive chart</translation>
    </message>
    <message>
        <source>Whole span</source>
        <translation>Whole span</translation>
    </message>
    <message>
        <source>Save PNG…</source>
        <translation>Save PNG…</translation>
    </message>
    <message>
        <source>Save SVG…</source>
        <translation>Save SVG…</translation>
    </message>
    <message>
        <source>PNG image|*.png</source>
        <translation>PNG image|*.png</translation>
    </message>
    <message>
        <source>SVG image|*.svg</source>
        <translation>SVG image|*.svg</translation>
    </message>
</context>
<context>
    <name>ConfigDiffDialog</name>
    <message>
        <source>Compare with controller</source>
        <translation>Compare with controller</translation>
    </message>
    <message>
        <source>No differences.</source>
        <translation>No differences.</translation>
    </message>
    <message>
        <source>%1 difference between the controller and Memo.</source>
        <translation>%1 difference between the controller and Memo.</translation>
    </message>
    <message>
        <source>%1 differences between the controller and Memo.</source>
        <translation>%1 differences between the controller and Memo.</translation>
    </message>
    <message>
        <source> Not JSON (%1): compared line by line.</source>
        <translation> Not JSON (%1): compared line by line.</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Path</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>Line</translation>
    </message>
    <message>
        <source>Controller</source>
        <translation>Controller</translation>
    </message>
    <message>
        <source>Memo</source>
        <translation>Memo</translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <source>No emulated controller: %1</source>
        <translation>No emulated controller: %1</translation>
    </message>
    <message>
        <source>Right-click: service controls
Ctrl+D: Diagnostic window
Ctrl+T: status query</source>
        <translation>Right-click: service controls
Ctrl+D: Diagnostic window
Ctrl+T: status query</translation>
    </message>
    <message>
        <source>СOM порт</source>
        <translation>COM port</translation>
    </message>
    <message>
        <source>COM:</source>
        <translation>COM:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>NOT OK</source>
        <translation>NOT OK</translation>
    </message>
    <message>
        <source>LOG</source>
        <translation>LOG</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Clear log</source>
        <translation>Clear log</translation>
    </message>
    <message>
        <source>Max</source>
        <translation>Max</translation>
    </message>
    <message>
        <source>Файл</source>
        <translation>File</translation>
    </message>
    <message>
        <source>10 посл.</source>
        <translation>10 newest</translation>
    </message>
    <message>
        <source>100 посл.</source>
        <translation>100 newest</translation>
    </message>
    <message>
        <source>500 посл.</source>
        <translation>500 newest</translation>
    </message>
    <message>
        <source>последних</source>
        <translation>newest</translation>
    </message>
    <message>
        <source>StartLog</source>
        <translation>StartLog</translation>
    </message>
    <message>
        <source>StopLog</source>
        <translation>StopLog</translation>
    </message>
    <message>
        <source>Read time</source>
        <translation>Read time</translation>
    </message>
    <message>
        <source>RETRO</source>
        <translation>RETRO</translation>
    </message>
    <message>
        <source>Upload</source>
        <translation>Upload</translation>
    </message>
    <message>
        <source>Reboot</source>
        <translation>Reboot</translation>
    </message>
    <message>
        <source>Set test</source>
        <translation>Set test</translation>
    </message>
    <message>
        <source>Upload Test Config</source>
        <translation>Upload Test Config</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Период рассылки</source>
        <translation>Report period</translation>
    </message>
    <message>
        <source>10 мин</source>
        <translation>10 min</translation>
    </message>
    <message>
        <source>20 мин</source>
        <translation>20 min</translation>
    </message>
    <message>
        <source>30 мин</source>
        <translation>30 min</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>Время контроллера</source>
        <translation>Controller time</translation>
    </message>
    <message>
        <source>NOT</source>
        <translation>NOT</translation>
    </message>
    <message>
        <source>Open cfg</source>
        <translation>Open cfg</translation>
    </message>
    <message>
        <source>Save cfg</source>
        <translation>Save cfg</translation>
    </message>
    <message>
        <source>Down script</source>
        <translation>Down script</translation>
    </message>
    <message>
        <source>Clr script</source>
        <translation>Clr script</translation>
    </message>
    <message>
        <source>Up script</source>
        <translation>Up script</translation>
    </message>
    <message>
        <source>Begin up log</source>
        <translation>Begin up log</translation>
    </message>
    <message>
        <source>Begin up retro</source>
        <translation>Begin up retro</translation>
    </message>
    <message>
        <source>Ident</source>
        <translation>Ident</translation>
    </message>
    <message>
        <source>Press</source>
        <translation>Press</translation>
    </message>
    <message>
        <source>Registration</source>
        <translation>Registration</translation>
    </message>
    <message>
        <source>Find the controller…</source>
        <translation>Find the controller…</translation>
    </message>
    <message>
        <source>Compare with controller…</source>
        <translation>Compare with controller…</translation>
    </message>
    <message>
        <source>   COM порт ???</source>
        <translation>   COM port ???</translation>
    </message>
    <message>
        <source>Unable to write to %1</source>
        <translation>Unable to write to %1</translation>
    </message>
    <message>
        <source>Chart…</source>
        <translation>Chart…</translation>
    </message>
    <message>
        <source>No archive records to chart: read the archive first.</source>
        <translation>No archive records to chart: read the archive first.</translation>
    </message>
    <message>
        <source>The configuration is not valid JSON:
%1

Send it anyway?</source>
        <translation>The configuration is not valid JSON:
%1

Send it anyway?</translation>
    </message>
    <message>
        <source>No serial ports to try: type one into the port field.</source>
        <translation>No serial ports to try: type one into the port field.</translation>
    </message>
    <message>
        <source>Looking for the controller…</source>
        <translation>Looking for the controller…</translation>
    </message>
    <message>
        <source>Find the controller</source>
        <translation>Find the controller</translation>
    </message>
    <message>
        <source>%1 at %2 baud: %3%4</source>
        <translation>%1 at %2 baud: %3%4</translation>
    </message>
    <message>
        <source>No controller answered.</source>
        <translation>No controller answered.</translation>
    </message>
    <message>
        <source>       OK</source>
        <translation>       OK</translation>
    </message>
    <message>
        <source>       COM?</source>
        <translation>       COM?</translation>
    </message>
    <message>
        <source>      NOT OK</source>
        <translation>      NOT OK</translation>
    </message>
    <message>
        <source>      NOT OK </source>
        <translation>      NOT OK </translation>
    </message>
    <message>
        <source>No record choice ticked (10, 100, 500, последних or 1): nothing read.</source>
        <translation>No record choice ticked (10, 100, 500, newest or 1): nothing read.</translation>
    </message>
    <message>
        <source>%1: [ui] language: %2. The windows show their Russian texts.</source>
        <translation>%1: [ui] language: %2. The windows show their Russian texts.</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Unknown error</translation>
    </message>
</context>
<context>
    <name>TForm2</name>
    <message>
        <source>Diag</source>
        <translation>Diag</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Clear</translation>
    </message>
</context>
<context>
    <name>TOKBottomDlg</name>
    <message>
        <source>ВОПРОС</source>
        <translation>Question</translation>
    </message>
    <message>
        <source>   Вы  уверены?</source>
        <translation>   Are you sure?</translation>
    </message>
    <message>
        <source>ДА</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>НЕТ</source>
        <translation>No</translation>
    </message>
</context>
</TS>
