#include "pad/devicetable.h"

namespace {
const char *const kSerialPlaceholder = "A1B2F9EF786AD889";

tagDEVICE_INFO row(const char *model, int32_t maxX, int32_t maxY, uint32_t pressureLevels,
                   int32_t devType, uint16_t vid, uint16_t pid)
{
    tagDEVICE_INFO info;
    info.manufacturer = QStringLiteral("Tavrel");
    info.model = QString::fromLatin1(model);
    info.version = QStringLiteral("1.0");
    info.minX = 0;
    info.minY = 0;
    info.maxX = maxX;
    info.maxY = maxY;
    info.pressureLevels = pressureLevels;
    info.devType = devType;
    info.vid = vid;
    info.pid = pid;
    info.serial = QString::fromLatin1(kSerialPlaceholder);
    return info;
}
} // namespace

MUTI_DEV muti_dev{
    {-1},
    {
        //   model   maxX    maxY    pressure devType vid     pid
        row("T330", 0x27DD, 0x1CFD, 2048, 0, 0x0B57, 0x8534),
        row("QZ07", 0x27DD, 0x1CFD, 1024, 1, 0x28BD, 0x600C),
        row("KZ07", 0x31F, 0x1DF, 2048, 2, 0x2207, 0x0019),
    },
};

const tagERR_INFO errInfo[kErrInfoRows] = {
    {1001, "没有可用设备"},
    {1000, "暂不支持的设备"},
    {1002, "不支持连接多台设备"},
    {1003, "数据读写错误"},
    {1004, "设备打开失败"},
    {1005, "设备没打开"},
    {1006, "设备正忙"},
    {1007, "命令无效"},
};
