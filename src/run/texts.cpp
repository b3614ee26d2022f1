#include "run/texts.h"

// The Japanese texts are written as their code page 932 bytes (scripts/cp932-literal
// makes these literals) so that no compiler's character set setting can change them.

const char FirstHardwareId[] = "PCMCIA\\TOVAK-QLN8140K_RS232C_PC_Card-A7E5";
const char SecondHardwareId[] = "PCMCIA\\TOVAK_System_Inc.-QLN8140K_RS232C_PC_Card-5B1C";

// ";   QLN-8140K Win2000/XP対策用INF(override)"
const char InfSignatureLine[] = ";   QLN-8140K Win2000/XP\x91\xce\x8d\xf4\x97pINF(override)";

const char InfCopyName9xMe[] = "TOVAK Systems,Inc.Qln8140k_w9xme.inf";
const char InfCopyName2kXp[] = "TOVAK Systems,Inc.QLN8140K_w2kxp.inf";

// "プログラム実行中・・・\n"
const char StartLineText[] =
    "\x83v\x83\x8d\x83O\x83\x89\x83\x80\x8e\xc0\x8ds\x92\x86\x81" "E\x81" "E\x81" "E\n";

// "プログラム終了\n"
const char EndLineText[] = "\x83v\x83\x8d\x83O\x83\x89\x83\x80\x8fI\x97\xb9\n";

const char* const HelpLines[4] = {
    "\n==================================================================\n",
    // "本プログラムは、デバイス情報の削除、infファイルの削除を行います。\n"
    "\x96{\x83v\x83\x8d\x83O\x83\x89\x83\x80\x82\xcd\x81" "A\x83" "f\x83o\x83" "C\x83X\x8f\xee\x95\xf1\x82\xcc\x8d\xed\x8f\x9c\x81" "Ainf\x83t\x83@\x83" "C\x83\x8b\x82\xcc\x8d\xed\x8f\x9c\x82\xf0\x8ds\x82\xa2\x82\xdc\x82\xb7\x81" "B\n",
    // "本プログラム実行後、再インストールを行ってください。\n"
    "\x96{\x83v\x83\x8d\x83O\x83\x89\x83\x80\x8e\xc0\x8ds\x8c\xe3\x81" "A\x8d\xc4\x83" "C\x83\x93\x83X\x83g\x81[\x83\x8b\x82\xf0\x8ds\x82\xc1\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B\n",
    "==================================================================\n",
};

// "指定デバイス情報を削除しました。"
const char DeviceInfoRemovedText[] =
    "\x8ew\x92\xe8\x83" "f\x83o\x83" "C\x83X\x8f\xee\x95\xf1\x82\xf0\x8d\xed\x8f\x9c\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81" "B";

// "指定デバイス情報が見つかりません。"
const char DeviceInfoNotFoundText[] =
    "\x8ew\x92\xe8\x83" "f\x83o\x83" "C\x83X\x8f\xee\x95\xf1\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81" "B";

const char BoxCaption[] = "Kalvor";
