#include "pad/devicetable.h"

#include "pad/models/padmodel.h"

#include <iterator>

// Each in its own file under pad/models/.
const PadModel &t330Model();
const PadModel &qz07Model();
const PadModel &kz07Model();

namespace {
// The table's rows, in order: a row's index is its model's devType.
constexpr const PadModel &(*kModels[])() = {
    t330Model,
    qz07Model,
    kz07Model,
};

const char *const kSerialPlaceholder = "A1B2F9EF786AD889";

std::vector<tagDEVICE_INFO> rows()
{
    std::vector<tagDEVICE_INFO> table;
    for (const auto model : kModels) {
        const PadModel &pad = model();
        tagDEVICE_INFO info;
        info.manufacturer = QStringLiteral("Tavrel");
        info.model = QString::fromLatin1(pad.name);
        info.version = QStringLiteral("1.0");
        info.minX = 0;
        info.minY = 0;
        info.maxX = pad.maxX;
        info.maxY = pad.maxY;
        info.pressureLevels = pad.pressureLevels;
        info.devType = int32_t(table.size());
        info.vid = pad.vid;
        info.pid = pad.pid;
        info.serial = QString::fromLatin1(kSerialPlaceholder);
        table.push_back(info);
    }
    return table;
}
} // namespace

const int MUTI_DEV::kRows = int(std::size(kModels));

MUTI_DEV muti_dev{{-1}, rows()};

const PadModel &padModel(int row)
{
    return kModels[row]();
}

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
