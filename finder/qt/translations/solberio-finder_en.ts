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
    <message>
        <source>機器が見つかりませんでした。</source>
        <translation>No device was found.</translation>
    </message>
    <message>
        <source>別のネットワークにある機器は、右クリックメニューの「検索先を指定...」で探せます。</source>
        <translation>Devices on another network can be found with “Search targets...” in the right-click menu.</translation>
    </message>
    <message>
        <source>ネットワークに接続されていません。</source>
        <translation>Not connected to a network.</translation>
    </message>
    <message>
        <source>フォルダーを開く</source>
        <translation>Open shared folder</translation>
    </message>
    <message>
        <source>アドレスをコピー</source>
        <translation>Copy address</translation>
    </message>
    <message>
        <source>検索先を指定...</source>
        <translation>Search targets...</translation>
    </message>
    <message>
        <source>機器を起動...</source>
        <translation>Wake a device...</translation>
    </message>
</context>
<context>
    <name>TargetsDialog</name>
    <message>
        <source>検索先の指定</source>
        <translation>Search targets</translation>
    </message>
    <message>
        <source>追加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>削除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>アドレス、ホスト名、または範囲 (例: 192.168.20.0/24):</source>
        <translation>Address, host name or range (for example 192.168.20.0/24):</translation>
    </message>
    <message>
        <source>アドレス、ホスト名、または範囲 (/22〜/32) を入力してください。</source>
        <translation>Enter an address, a host name or a range (/22 to /32).</translation>
    </message>
    <message>
        <source>この検索先はすでにあります。</source>
        <translation>This target is in the list already.</translation>
    </message>
    <message>
        <source>検索先は 32 件、合わせて 1,024 文字までです。</source>
        <translation>At most 32 targets of 1,024 characters in all.</translation>
    </message>
    <message>
        <source>検索先を保存できませんでした。</source>
        <translation>The targets could not be saved.</translation>
    </message>
</context>
<context>
    <name>WakeDialog</name>
    <message>
        <source>機器の起動</source>
        <translation>Wake a device</translation>
    </message>
    <message>
        <source>起動(&amp;W)</source>
        <translation>&amp;Wake</translation>
    </message>
    <message>
        <source>この MAC で起動</source>
        <translation>Wake this MAC</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>IP アドレス</source>
        <translation>IP Address</translation>
    </message>
    <message>
        <source>MAC アドレス</source>
        <translation>MAC Address</translation>
    </message>
    <message>
        <source>最終確認</source>
        <translation>Last seen</translation>
    </message>
    <message>
        <source>一覧にない、以前に見つかった機器(&amp;L):</source>
        <translation>Devices found before that the &amp;list does not show:</translation>
    </message>
    <message>
        <source>MAC アドレスを入力して起動(&amp;M) (例: 00-11-22-AA-BB-CC):</source>
        <translation>Wake by &amp;MAC address (for example 00-11-22-AA-BB-CC):</translation>
    </message>
    <message>
        <source>起動する機器を選ぶか、MAC アドレスを入力してください。</source>
        <translation>Select a device to wake, or enter its MAC address.</translation>
    </message>
    <message>
        <source>この機器の MAC アドレスは分かりません。下の欄に入力して起動してください。</source>
        <translation>This device's MAC address is not known. Enter it below to wake it.</translation>
    </message>
    <message>
        <source>「%1」は MAC アドレスではありません。12 桁の 16 進数を、2 桁ごとに「-」か「:」で区切るか、区切らずに入力してください (例: 00-11-22-AA-BB-CC)。</source>
        <translation>&quot;%1&quot; is not a MAC address. Enter 12 hex digits, in pairs joined by &quot;-&quot; or &quot;:&quot; or not joined (for example 00-11-22-AA-BB-CC).</translation>
    </message>
    <message>
        <source>起動の合図を送れませんでした。ネットワークの接続を確かめてください。</source>
        <translation>The wake-up packet could not be sent. Check the network connection.</translation>
    </message>
    <message>
        <source>起動の合図を送りました。しばらくしてから自動で検索します。</source>
        <translation>The wake-up packet was sent. The finder searches again in a moment.</translation>
    </message>
</context>
</TS>
