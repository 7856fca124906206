<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR">
<context>
    <name>loopset</name>
    <message>
        <extracomment>CommandLiveView</extracomment>
        <source>Live view</source>
        <translation>실시간 보기</translation>
    </message>
    <message>
        <extracomment>CommandCalibration</extracomment>
        <source>Calibration...</source>
        <translation>교정...</translation>
    </message>
    <message>
        <extracomment>CommandSaveConfig</extracomment>
        <source>Save configuration...</source>
        <translation>설정값 저장...</translation>
    </message>
    <message>
        <extracomment>CommandLoadConfig</extracomment>
        <source>Load configuration...</source>
        <translation>설정값 불러오기...</translation>
    </message>
    <message>
        <extracomment>CommandsHint</extracomment>
        <source>More: Live view (Ctrl+L), Calibration (Ctrl+K), Save (Ctrl+S), Load (Ctrl+O)</source>
        <translation>추가 기능: 실시간 보기(Ctrl+L), 교정(Ctrl+K), 저장(Ctrl+S), 불러오기(Ctrl+O)</translation>
    </message>
    <message>
        <extracomment>SaveConfigTitle</extracomment>
        <source>Save configuration</source>
        <translation>설정값 저장</translation>
    </message>
    <message>
        <extracomment>LoadConfigTitle</extracomment>
        <source>Load configuration</source>
        <translation>설정값 불러오기</translation>
    </message>
    <message>
        <extracomment>ConfigFiles</extracomment>
        <source>Configurations</source>
        <translation>설정 파일</translation>
    </message>
    <message>
        <extracomment>AllFiles</extracomment>
        <source>All files</source>
        <translation>모든 파일</translation>
    </message>
    <message>
        <extracomment>CsvFiles</extracomment>
        <source>CSV files</source>
        <translation>CSV 파일</translation>
    </message>
    <message>
        <extracomment>CommandsButton</extracomment>
        <source>More ▾</source>
        <translation>기능 ▾</translation>
    </message>
    <message>
        <extracomment>CommandsInWindowMenu</extracomment>
        <source>Also in the window menu (Alt+Space).</source>
        <translation>창 메뉴(Alt+Space)에도 있습니다.</translation>
    </message>
    <message>
        <extracomment>FilePathTooLong</extracomment>
        <source>The path chosen is too long.</source>
        <translation>선택한 경로가 너무 깁니다.</translation>
    </message>
    <message>
        <extracomment>FileNameInvalid</extracomment>
        <source>The file name is not valid.</source>
        <translation>파일 이름이 올바르지 않습니다.</translation>
    </message>
    <message>
        <extracomment>FileBoxFailed</extracomment>
        <source>The file box failed (error %1).</source>
        <translation>파일 선택 창이 실패했습니다 (오류 %1).</translation>
    </message>
    <message>
        <extracomment>NotWholeNumber</extracomment>
        <source>%1 is not a whole number from 0 to 65535</source>
        <translation>%1 값이 0부터 65535까지의 정수가 아닙니다</translation>
    </message>
    <message>
        <extracomment>NotJsonObject</extracomment>
        <source>not a JSON object</source>
        <translation>JSON 객체가 아닙니다</translation>
    </message>
    <message>
        <extracomment>MissingValue</extracomment>
        <source>no %1</source>
        <translation>%1 값이 없습니다</translation>
    </message>
    <message>
        <extracomment>KeyTwice</extracomment>
        <source>the key "%1" appears twice</source>
        <translation>키 "%1"이(가) 두 번 있습니다</translation>
    </message>
    <message>
        <extracomment>FileTooLarge</extracomment>
        <source>too large for a configuration file (over 1 MB)</source>
        <translation>설정 파일로는 너무 큽니다 (1 MB 초과)</translation>
    </message>
    <message>
        <extracomment>CannotWrite</extracomment>
        <source>Cannot write %1: %2</source>
        <translation>%1에 쓸 수 없습니다: %2</translation>
    </message>
    <message>
        <extracomment>LiveTitle</extracomment>
        <source>Live view</source>
        <translation>실시간 보기</translation>
    </message>
    <message>
        <extracomment>LiveUse4mA</extracomment>
        <source>Use as 4 mA</source>
        <translation>4 mA로 사용</translation>
    </message>
    <message>
        <extracomment>LiveUse20mA</extracomment>
        <source>Use as 20 mA</source>
        <translation>20 mA로 사용</translation>
    </message>
    <message>
        <extracomment>LiveRate</extracomment>
        <source>Samples a second:</source>
        <translation>초당 샘플 수:</translation>
    </message>
    <message>
        <extracomment>LivePause</extracomment>
        <source>Pause</source>
        <translation>일시 정지</translation>
    </message>
    <message>
        <extracomment>LiveResume</extracomment>
        <source>Resume</source>
        <translation>계속</translation>
    </message>
    <message>
        <extracomment>LiveSaveCsv</extracomment>
        <source>Save as CSV</source>
        <translation>CSV로 저장</translation>
    </message>
    <message>
        <extracomment>LevelOutOfRange</extracomment>
        <source>(out of range)</source>
        <translation>(범위 벗어남)</translation>
    </message>
    <message>
        <extracomment>LevelFailure</extracomment>
        <source>(failure)</source>
        <translation>(고장)</translation>
    </message>
    <message>
        <extracomment>LiveSummary</extracomment>
        <source>%1 samples, %2 failed</source>
        <translation>샘플 %1개, 실패 %2개</translation>
    </message>
    <message>
        <extracomment>LiveLegendMa</extracomment>
        <source>mA, last %1 s</source>
        <translation>mA, 최근 %1초</translation>
    </message>
    <message>
        <extracomment>LiveLegendAdc</extracomment>
        <source>ADC, last %1 s</source>
        <translation>ADC, 최근 %1초</translation>
    </message>
    <message>
        <extracomment>LiveCaptureProblem</extracomment>
        <source>Only %1 s of steady readings since the last start, resume or change of value; a capture needs %2 s.</source>
        <translation>마지막 시작, 계속 또는 값 변경 이후 안정된 측정이 %1초뿐입니다. 캡처에는 %2초가 필요합니다.</translation>
    </message>
    <message>
        <extracomment>CalTitle</extracomment>
        <source>Calibration</source>
        <translation>교정</translation>
    </message>
    <message>
        <extracomment>CalChannel</extracomment>
        <source>Channel:</source>
        <translation>채널:</translation>
    </message>
    <message>
        <extracomment>CalPoints</extracomment>
        <source>Test points (mA):</source>
        <translation>시험점 (mA):</translation>
    </message>
    <message>
        <extracomment>CalTolerance</extracomment>
        <source>Tolerance (% of span):</source>
        <translation>허용 오차 (스팬의 %):</translation>
    </message>
    <message>
        <extracomment>CalTag</extracomment>
        <source>Device tag:</source>
        <translation>장치 태그:</translation>
    </message>
    <message>
        <extracomment>CalOperator</extracomment>
        <source>Operator:</source>
        <translation>작업자:</translation>
    </message>
    <message>
        <extracomment>CalReference</extracomment>
        <source>Reference instrument:</source>
        <translation>기준 계기:</translation>
    </message>
    <message>
        <extracomment>CalStart</extracomment>
        <source>Start</source>
        <translation>시작</translation>
    </message>
    <message>
        <extracomment>CalStop</extracomment>
        <source>Stop</source>
        <translation>중지</translation>
    </message>
    <message>
        <extracomment>CalApplied</extracomment>
        <source>Applied mA:</source>
        <translation>인가 mA:</translation>
    </message>
    <message>
        <extracomment>CalNext</extracomment>
        <source>Next</source>
        <translation>다음</translation>
    </message>
    <message>
        <extracomment>CalAdjust</extracomment>
        <source>Adjust</source>
        <translation>조정</translation>
    </message>
    <message>
        <extracomment>CalFinish</extracomment>
        <source>Finish</source>
        <translation>마침</translation>
    </message>
    <message>
        <extracomment>CalSave</extracomment>
        <source>Save record</source>
        <translation>기록 저장</translation>
    </message>
    <message>
        <extracomment>CalOpen</extracomment>
        <source>Open record</source>
        <translation>기록 열기</translation>
    </message>
    <message>
        <extracomment>CalFolder</extracomment>
        <source>Records go to:</source>
        <translation>기록 저장 위치:</translation>
    </message>
    <message>
        <extracomment>CalPromptIdle</extracomment>
        <source>Choose the channel and the test points, then Start.</source>
        <translation>채널과 시험점을 고른 뒤 시작을 누르세요.</translation>
    </message>
    <message>
        <extracomment>CalPromptReading</extracomment>
        <source>Reading the configuration of CH.%1...</source>
        <translation>CH.%1 설정값을 읽는 중...</translation>
    </message>
    <message>
        <extracomment>CalPromptApply</extracomment>
        <source>Apply %1 mA to CH.%2 (%3, point %4), then Next. Type the current the reference shows if it differs.</source>
        <translation>CH.%2에 %1 mA를 인가한 뒤 다음을 누르세요 (%3, %4번째 점). 기준 계기의 값이 다르면 그 전류를 입력하세요.</translation>
    </message>
    <message>
        <extracomment>CalPromptSettling</extracomment>
        <source>Waiting for a steady reading (%1, point %2, %3 s)...</source>
        <translation>안정된 측정을 기다리는 중 (%1, %2번째 점, %3초)...</translation>
    </message>
    <message>
        <extracomment>CalPromptAdjust</extracomment>
        <source>As found: %1. Adjust writes a new reference range for CH.%2 and checks it as left; Finish leaves the device as found.</source>
        <translation>조정 전: %1. 조정은 CH.%2의 새 기준 범위를 쓰고 조정 후 값을 확인합니다. 마침은 장치를 그대로 둡니다.</translation>
    </message>
    <message>
        <extracomment>CalPromptWriting</extracomment>
        <source>Writing the adjusted range of CH.%1 and reading it back...</source>
        <translation>CH.%1의 조정된 범위를 쓰고 다시 읽는 중...</translation>
    </message>
    <message>
        <extracomment>CalPromptDone</extracomment>
        <source>Done. Save the record.</source>
        <translation>완료. 기록을 저장하세요.</translation>
    </message>
    <message>
        <extracomment>CalPromptStopped</extracomment>
        <source>Stopped: %1.</source>
        <translation>중지됨: %1.</translation>
    </message>
    <message>
        <extracomment>CalAsFound</extracomment>
        <source>as found</source>
        <translation>조정 전</translation>
    </message>
    <message>
        <extracomment>CalAsLeft</extracomment>
        <source>as left</source>
        <translation>조정 후</translation>
    </message>
    <message>
        <extracomment>CalPass</extracomment>
        <source>pass</source>
        <translation>합격</translation>
    </message>
    <message>
        <extracomment>CalFail</extracomment>
        <source>fail</source>
        <translation>불합격</translation>
    </message>
    <message>
        <extracomment>CalUnsteady</extracomment>
        <source>%1 (unsteady)</source>
        <translation>%1 (불안정)</translation>
    </message>
    <message>
        <extracomment>CalColNominal</extracomment>
        <source>Nominal mA</source>
        <translation>공칭 mA</translation>
    </message>
    <message>
        <extracomment>CalColApplied</extracomment>
        <source>Applied mA</source>
        <translation>인가 mA</translation>
    </message>
    <message>
        <extracomment>CalColCounts</extracomment>
        <source>Counts</source>
        <translation>카운트</translation>
    </message>
    <message>
        <extracomment>CalColDisplay</extracomment>
        <source>Display</source>
        <translation>표시값</translation>
    </message>
    <message>
        <extracomment>CalColExpected</extracomment>
        <source>Expected</source>
        <translation>기대값</translation>
    </message>
    <message>
        <extracomment>CalColError</extracomment>
        <source>Error % span</source>
        <translation>오차 % 스팬</translation>
    </message>
    <message>
        <extracomment>CalColResult</extracomment>
        <source>Result</source>
        <translation>결과</translation>
    </message>
    <message>
        <extracomment>CalVerdictFound</extracomment>
        <source>As found: %1</source>
        <translation>조정 전: %1</translation>
    </message>
    <message>
        <extracomment>CalVerdictLeft</extracomment>
        <source>As left: %1</source>
        <translation>조정 후: %1</translation>
    </message>
    <message>
        <extracomment>CalSaved</extracomment>
        <source>The record is in %1 and %2.</source>
        <translation>기록: %1, %2</translation>
    </message>
    <message>
        <extracomment>CalStopOperator</extracomment>
        <source>stopped by the operator</source>
        <translation>작업자가 중지함</translation>
    </message>
    <message>
        <extracomment>CalStopLineLost</extracomment>
        <source>the line was lost: %1</source>
        <translation>회선이 끊어짐: %1</translation>
    </message>
    <message>
        <extracomment>CalStopNotSent</extracomment>
        <source>nothing could be sent: %1</source>
        <translation>보낼 수 없음: %1</translation>
    </message>
    <message>
        <extracomment>CalStopNoAnswer</extracomment>
        <source>no answer from the device to %1</source>
        <translation>장치가 %1에 응답하지 않음</translation>
    </message>
    <message>
        <extracomment>CalStopDevice</extracomment>
        <source>the device answered with %1</source>
        <translation>장치 응답: %1</translation>
    </message>
    <message>
        <extracomment>CalNoProgram</extracomment>
        <source>no program opened %1</source>
        <translation>%1을(를) 여는 프로그램이 없습니다</translation>
    </message>
</context>
</TS>
