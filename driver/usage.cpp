#include "driver/usage.h"

#include "driver/version.h"
#include "platform/platform.h"

void PrintUsage() {
  // One Print per line, as the lines are listed; -b is left out on purpose:
  // it tunes the packer and is not meant for everyday use.
  platform::Print(L"ovk Converter ver." OVKCONV_VERSION_WIDE L"b\n");
  platform::Print(L"Usage : ovkconv [-na] [-v<0246>] [-p[256]] <image_file> [dest_path]\n");
  platform::Print(L"\t-na        : 透明度情報無視(ovkへの変換用)(省略可)\n");
  platform::Print(L"\t-v<0|2|4|6>: ovkバージョンの指定(ovkへの変換用)(省略時=6)\n");
  platform::Print(L"\t-p         : png出力(ovkからの変換用)(省略可)\n");
  platform::Print(L"\t-p256      : 256色png出力(ovkからの変換用)(省略可)\n");
  platform::Print(L"\timage_file : 変換する画像ファイル(bmp/png/ovk自動判別)\n");
  platform::Print(L"\tdest_path  : 出力先(省略可)\n");
}
