<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>dialog</name>
    <message>
        <source>4~20mA 전류 설정 프로그램 (260224)</source>
        <translation>4-20 mA Current Setup (260224)</translation>
    </message>
    <message>
        <source>ADC 값 읽기</source>
        <translation>Read ADC</translation>
    </message>
    <message>
        <source>설정값 읽기</source>
        <translation>Read Config</translation>
    </message>
    <message>
        <source>설정값 쓰기</source>
        <translation>Write Config</translation>
    </message>
</context>
<context>
    <name>loopset</name>
    <message>
        <extracomment>BadBaudRate</extracomment>
        <source>사용할 수 없는 전송 속도 입니다.</source>
        <translation>This baud rate cannot be used.</translation>
    </message>
    <message>
        <extracomment>CannotOpenPort</extracomment>
        <source>시리얼 포트 COM %1를(을) 열수 없습니다.&#13;
&#13;
환경 설정에서 사용할 포트를 선택 해주세요.</source>
        <translation>Cannot open serial port COM %1.&#13;
&#13;
Choose the port to use in the settings.</translation>
    </message>
    <message>
        <extracomment>BadIpSettings</extracomment>
        <source>%1:%2 IP 설정 오류</source>
        <translation>%1:%2 IP settings error</translation>
    </message>
</context>
</TS>
