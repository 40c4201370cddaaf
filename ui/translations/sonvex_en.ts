<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="ja_JP">
<context>
    <name>Sonvex</name>
    <message>
        <source>元ﾃﾞｰﾀｰ</source>
        <extracomment>label of the game-file box</extracomment>
        <translation>Game file</translation>
    </message>
    <message>
        <source>出力ﾌｫﾙﾀﾞ</source>
        <extracomment>label of the output-folder box</extracomment>
        <translation>Output folder</translation>
    </message>
    <message>
        <source>ｱﾅﾗｲｽﾞ</source>
        <extracomment>button</extracomment>
        <translation>Analyze</translation>
    </message>
    <message>
        <source>ｺﾝﾊﾞｰﾄ</source>
        <extracomment>button</extracomment>
        <translation>Convert</translation>
    </message>
    <message>
        <source>ﾌｫﾙﾀﾞ</source>
        <extracomment>button</extracomment>
        <translation>Folder</translation>
    </message>
    <message>
        <source>試聴</source>
        <extracomment>button</extracomment>
        <translation>Listen</translation>
    </message>
    <message>
        <source>ﾘｽﾄ</source>
        <extracomment>button</extracomment>
        <translation>List</translation>
    </message>
    <message>
        <source>ﾚﾃﾞｨ</source>
        <extracomment>status pane at rest</extracomment>
        <translation>Ready</translation>
    </message>
    <message>
        <source>保持しているフォルダ　</source>
        <extracomment>folder browser prompt, followed by the folder</extracomment>
        <translation>Current folder: </translation>
    </message>
    <message>
        <source>保持しているパス　</source>
        <extracomment>folder browser prompt of the list editor, followed by the folder</extracomment>
        <translation>Current source folder: </translation>
    </message>
    <message>
        <source>フォルダを選択してください</source>
        <extracomment>folder browser title</extracomment>
        <translation>Choose a folder</translation>
    </message>
    <message>
        <source>ｺﾝﾊﾞｰﾄﾘｽﾄﾌｧｲﾙを選んでください</source>
        <extracomment>file picker title</extracomment>
        <translation>Choose a convert list</translation>
    </message>
    <message>
        <source>ｺﾝﾊﾞｰﾄﾘｽﾄﾌｧｲﾙ (*.clg)|*.clg||</source>
        <extracomment>file picker filter: name|pattern||</extracomment>
        <translation>Convert lists (*.clg)|*.clg||</translation>
    </message>
    <message>
        <source>元ﾃﾞｰﾀﾌｧｲﾙを選んでください</source>
        <extracomment>file picker title</extracomment>
        <translation>Choose game files</translation>
    </message>
    <message>
        <source>PSﾌｧｲﾙ|*.*||</source>
        <extracomment>file picker filter: name|pattern||</extracomment>
        <translation>Game files|*.*||</translation>
    </message>
    <message>
        <source>ﾃﾞｨｽｸｲﾒｰｼﾞとPSF|*.cue *.bin *.iso *.img *.psf *.minipsf||</source>
        <extracomment>file picker filter: name|pattern||</extracomment>
        <translation>Disc images and PSF sets|*.cue *.bin *.iso *.img *.psf *.minipsf||</translation>
    </message>
    <message>
        <source>元ﾃﾞｰﾀがありません</source>
        <extracomment>shown in the game-file box</extracomment>
        <translation>No game file chosen</translation>
    </message>
    <message>
        <source>ﾌｫﾙﾀﾞが指定されていません</source>
        <extracomment>shown in the output-folder box</extracomment>
        <translation>No folder chosen</translation>
    </message>
    <message>
        <source>識別子</source>
        <extracomment>list editor column</extracomment>
        <translation>Type</translation>
    </message>
    <message>
        <source>No</source>
        <extracomment>list editor column</extracomment>
        <translation>No.</translation>
    </message>
    <message>
        <source>ｵﾌｾｯﾄ</source>
        <extracomment>list editor column</extracomment>
        <translation>Offset</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ名</source>
        <extracomment>list editor column</extracomment>
        <translation>File name</translation>
    </message>
    <message>
        <source>ｺﾝﾊﾞｰﾄﾘｽﾄ - </source>
        <extracomment>list editor title, followed by the file name</extracomment>
        <translation>Convert list - </translation>
    </message>
    <message>
        <source>変更を保存しますか？</source>
        <extracomment>question when a changed list is closed</extracomment>
        <translation>Save the changes?</translation>
    </message>
    <message>
        <source>試聴と変換</source>
        <extracomment>preview dialog title</extracomment>
        <translation>Listen and convert</translation>
    </message>
    <message>
        <source>DLSﾌｧｲﾙ</source>
        <extracomment>preview list column</extracomment>
        <translation>DLS files</translation>
    </message>
    <message>
        <source>SMF&amp;SGTﾌｧｲﾙ</source>
        <extracomment>preview list column</extracomment>
        <translation>SMF &amp; SGT files</translation>
    </message>
    <message>
        <source>ｻｲｽﾞ</source>
        <extracomment>preview list column</extracomment>
        <translation>Size</translation>
    </message>
    <message>
        <source>ｻｳﾝﾄﾞﾃﾞﾊﾞｲｽが開けません</source>
        <extracomment>preview status pane</extracomment>
        <translation>No sound device could be opened</translation>
    </message>
    <message>
        <source>SGTへの変換にはDLSﾌｧｲﾙを選んでください</source>
        <extracomment>preview status pane while a SoundFont is the selected bank</extracomment>
        <translation>Select a DLS file to convert to a segment</translation>
    </message>
    <message>
        <source>一つ上に</source>
        <extracomment>tooltip</extracomment>
        <translation>Move up</translation>
    </message>
    <message>
        <source>一つ下に</source>
        <extracomment>tooltip</extracomment>
        <translation>Move down</translation>
    </message>
    <message>
        <source>削除</source>
        <extracomment>tooltip</extracomment>
        <translation>Delete</translation>
    </message>
    <message>
        <source>ﾌｫﾙﾀﾞの変更</source>
        <extracomment>tooltip</extracomment>
        <translation>Change the source folder</translation>
    </message>
    <message>
        <source>再生</source>
        <extracomment>tooltip</extracomment>
        <translation>Play</translation>
    </message>
    <message>
        <source>一時停止</source>
        <extracomment>tooltip</extracomment>
        <translation>Pause</translation>
    </message>
    <message>
        <source>停止</source>
        <extracomment>tooltip</extracomment>
        <translation>Stop</translation>
    </message>
    <message>
        <source>戻る</source>
        <extracomment>tooltip</extracomment>
        <translation>Back</translation>
    </message>
    <message>
        <source>進む</source>
        <extracomment>tooltip</extracomment>
        <translation>Forward</translation>
    </message>
    <message>
        <source>SGTへ変換</source>
        <extracomment>tooltip</extracomment>
        <translation>Convert to SGT</translation>
    </message>
</context>
<context>
    <name>Reported</name>
    <message>
        <source>変換中</source>
        <translation>Converting</translation>
    </message>
    <message>
        <source>アナライズ終了</source>
        <translation>Analysis finished</translation>
    </message>
    <message>
        <source>ﾙｰﾌﾟ: ∞</source>
        <extracomment>loop pane of an endless segment</extracomment>
        <translation>Loop: ∞</translation>
    </message>
    <message>
        <source>SMF %1を作製</source>
        <extracomment>%1: output name</extracomment>
        <translation>Making SMF %1</translation>
    </message>
    <message>
        <source>DLS %1を作製</source>
        <extracomment>%1: output name</extracomment>
        <translation>Making DLS %1</translation>
    </message>
    <message>
        <source>%1 ｱﾅﾗｲｽﾞ中</source>
        <extracomment>%1: game file</extracomment>
        <translation>Analyzing %1</translation>
    </message>
    <message>
        <source>%1 ｱﾅﾗｲｽﾞ終了</source>
        <extracomment>%1: game file</extracomment>
        <translation>Analyzed %1</translation>
    </message>
    <message>
        <source>終了 作製ﾌｧｲﾙ数 %1</source>
        <extracomment>%1: count</extracomment>
        <translation>Finished: %1 file(s) made</translation>
    </message>
    <message>
        <source>ﾙｰﾌﾟ:%1</source>
        <extracomment>%1: loops still to come, three digits</extracomment>
        <translation>Loop:%1</translation>
    </message>
    <message>
        <source>%1作製</source>
        <extracomment>%1: segment file</extracomment>
        <translation>Made %1</translation>
    </message>
</context>
<context>
    <name>Message</name>
    <message>
        <source>リストファイルが開けません Ｅｒｒ：０１</source>
        <comment>01</comment>
        <translation>Cannot open the convert list. (Err 01)</translation>
    </message>
    <message>
        <source>リストファイルが不正　Ｅｒｒ：０２</source>
        <comment>02</comment>
        <translation>The convert list is damaged. (Err 02)</translation>
    </message>
    <message>
        <source>リストファイルが不正　Ｅｒｒ：０３</source>
        <comment>03</comment>
        <translation>The convert list is damaged. (Err 03)</translation>
    </message>
    <message>
        <source>リストファイルが不正　Ｅｒｒ：０４</source>
        <comment>04</comment>
        <translation>The convert list is damaged. (Err 04)</translation>
    </message>
    <message>
        <source>読み込みファイルが開けません　Ｅｒｒ：０５</source>
        <comment>05</comment>
        <translation>Cannot open the game file. (Err 05)</translation>
    </message>
    <message>
        <source>書き込みﾌｧｲﾙが開けません　Ｅｒｒ：０６</source>
        <comment>06</comment>
        <translation>Cannot create the SMF file. (Err 06)</translation>
    </message>
    <message>
        <source>ﾌｫﾙﾀﾞの指定が無効です　Ｅｒｒ：０７</source>
        <comment>07</comment>
        <translation>No output folder is chosen. (Err 07)</translation>
    </message>
    <message>
        <source>ﾌｫﾙﾀﾞの指定が無効です　Ｅｒｒ：０８</source>
        <comment>08</comment>
        <translation>The output folder cannot be made. (Err 08)</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ名が無効です　Ｅｒｒ：０９</source>
        <comment>09</comment>
        <translation>The chosen convert list is not a file. (Err 09)</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ名が無効です　Ｅｒｒ：１０</source>
        <comment>10</comment>
        <translation>The chosen convert list does not exist. (Err 10)</translation>
    </message>
    <message>
        <source>読み込みファイルが開けません　Ｅｒｒ：１１</source>
        <comment>11</comment>
        <translation>Cannot open the bank header file. (Err 11)</translation>
    </message>
    <message>
        <source>読み込みファイルが開けません　Ｅｒｒ：１２</source>
        <comment>12</comment>
        <translation>Cannot open the bank body file. (Err 12)</translation>
    </message>
    <message>
        <source>書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１３</source>
        <comment>13</comment>
        <translation>Cannot create the DLS file. (Err 13)</translation>
    </message>
    <message>
        <source>書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１４</source>
        <comment>14</comment>
        <translation>Cannot create the convert list. (Err 14)</translation>
    </message>
    <message>
        <source>ﾌｧｲﾙ名が無効です　Ｅｒｒ：１５</source>
        <comment>15</comment>
        <translation>A chosen game file does not exist. (Err 15)</translation>
    </message>
    <message>
        <source>読み込みﾌｧｲﾙが開けません　Ｅｒｒ：１６</source>
        <comment>16</comment>
        <translation>Cannot open a chosen game file. (Err 16)</translation>
    </message>
    <message>
        <source>読み込みファイルが開けません　Ｅｒｒ：１７</source>
        <comment>17</comment>
        <translation>Cannot open the game file. (Err 17)</translation>
    </message>
    <message>
        <source>書き込みﾌｧｲﾙが開けません　Ｅｒｒ：１８</source>
        <comment>18</comment>
        <translation>Cannot create the SMF file. (Err 18)</translation>
    </message>
    <message>
        <source>ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２３</source>
        <comment>23</comment>
        <translation>Cannot open the convert list. (Err 23)</translation>
    </message>
    <message>
        <source>ﾘｽﾄﾌｧｲﾙが指定されていません　Ｅｒｒ：２４</source>
        <comment>24</comment>
        <translation>The convert list names no source folder. (Err 24)</translation>
    </message>
    <message>
        <source>ﾊﾟｽが無効です　Ｅｒｒ：２５</source>
        <comment>25</comment>
        <translation>The folder path is too long for a convert list. (Err 25)</translation>
    </message>
    <message>
        <source>ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２６</source>
        <comment>26</comment>
        <translation>Cannot open the convert list to change its folder. (Err 26)</translation>
    </message>
    <message>
        <source>ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２７</source>
        <comment>27</comment>
        <translation>Cannot move the convert list aside to save it. (Err 27)</translation>
    </message>
    <message>
        <source>ﾘｽﾄﾌｧｲﾙが開けません　Ｅｒｒ：２８</source>
        <comment>28</comment>
        <translation>Cannot write the saved convert list. (Err 28)</translation>
    </message>
    <message>
        <source>ﾊﾟｽの指定が不正です　Ｅｒｒ：２９</source>
        <comment>29</comment>
        <translation>The folder is not valid. (Err 29)</translation>
    </message>
    <message>
        <source>SMFﾌｧｲﾙの指定が不正です　Ｅｒｒ：３０</source>
        <comment>30</comment>
        <translation>The SMF or segment file cannot be loaded. (Err 30)</translation>
    </message>
    <message>
        <source>DLSﾌｧｲﾙの指定が不正です　Ｅｒｒ：３１</source>
        <comment>31</comment>
        <translation>The DLS file cannot be loaded. (Err 31)</translation>
    </message>
    <message>
        <source>ﾊﾟｽの指定が不正です　Ｅｒｒ：３２</source>
        <comment>32</comment>
        <translation>The folder is not valid. (Err 32)</translation>
    </message>
    <message>
        <source>SMFﾌｧｲﾙの指定が不正です　Ｅｒｒ：３３</source>
        <comment>33</comment>
        <translation>The SMF or segment file cannot be loaded. (Err 33)</translation>
    </message>
    <message>
        <source>DLSﾌｧｲﾙの指定が不正です　Ｅｒｒ：３４</source>
        <comment>34</comment>
        <translation>The DLS file cannot be loaded. (Err 34)</translation>
    </message>
    <message>
        <source>ﾊﾟｽの指定が不正です　Ｅｒｒ：３５</source>
        <comment>35</comment>
        <translation>The folder is not valid. (Err 35)</translation>
    </message>
    <message>
        <source>SMFﾌｧｲﾙの指定が不正です　Ｅｒｒ：３６</source>
        <comment>36</comment>
        <translation>The SMF or segment file cannot be loaded. (Err 36)</translation>
    </message>
    <message>
        <source>DLSﾌｧｲﾙの指定が不正です　Ｅｒｒ：３７</source>
        <comment>37</comment>
        <translation>The DLS file cannot be loaded. (Err 37)</translation>
    </message>
    <message>
        <source>SMFﾌｧｲﾙが指定されていません　Ｅｒｒ：３８</source>
        <comment>38</comment>
        <translation>No SMF file is selected. (Err 38)</translation>
    </message>
    <message>
        <source>DLSﾌｧｲﾙが指定されていません　Ｅｒｒ：３９</source>
        <comment>39</comment>
        <translation>No DLS file is selected. (Err 39)</translation>
    </message>
    <message>
        <source>SMFﾌｧｲﾙ以外は変換できません　Ｅｒｒ：４０</source>
        <comment>40</comment>
        <translation>Only SMF files can be converted. (Err 40)</translation>
    </message>
    <message>
        <source>SMFﾌｧｲﾙが開けません　Ｅｒｒ：４１</source>
        <comment>41</comment>
        <translation>Cannot open the SMF file. (Err 41)</translation>
    </message>
    <message>
        <source>SMFﾌｧｲﾙが開けません　Ｅｒｒ：４２</source>
        <comment>42</comment>
        <translation>Cannot open the DLS file. (Err 42)</translation>
    </message>
    <message>
        <source>書き込みﾌｧｲﾙが開けません　Ｅｒｒ：４３</source>
        <comment>43</comment>
        <translation>Cannot create the segment file. (Err 43)</translation>
    </message>
    <message>
        <source>SGTﾌｧｲﾙが作成出来ませんでした　Ｅｒｒ：４４</source>
        <comment>44</comment>
        <translation>The segment file could not be made. (Err 44)</translation>
    </message>
</context>
</TS>
