<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>FinderWindow</name>
    <message>
        <location filename="../finder_window.cpp" line="58"/>
        <source>対象を選んで設定を押してください。ウェブブラウザが起動して設定を行うことができます</source>
        <translation>Select a device and press Settings. Your web browser opens its setup page.</translation>
    </message>
    <message>
        <location filename="../finder_window.cpp" line="62"/>
        <location filename="../finder_window.cpp" line="181"/>
        <source>更新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <location filename="../finder_window.cpp" line="63"/>
        <location filename="../finder_window.cpp" line="202"/>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <location filename="../finder_window.cpp" line="88"/>
        <source>バージョン情報 ソルベリオ Windows Tool(&amp;A)...</source>
        <translation>&amp;About ソルベリオ Windows Tool...</translation>
    </message>
    <message>
        <location filename="../finder_window.cpp" line="121"/>
        <source>ソルベリオ Windows Tool Version %1</source>
        <translation>ソルベリオ Windows Tool Version %1</translation>
    </message>
    <message>
        <location filename="../finder_window.cpp" line="132"/>
        <source>バージョン情報 ソルベリオ Windows Tool</source>
        <translation>About ソルベリオ Windows Tool</translation>
    </message>
    <message>
        <location filename="../finder_window.cpp" line="165"/>
        <source>検索中...</source>
        <translation>Searching...</translation>
    </message>
</context>
</TS>
