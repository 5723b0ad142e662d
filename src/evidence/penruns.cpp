#include "evidence/penruns.h"

namespace penruns {

QVector<Run> split(const QVector<TOUCH_INFO> &samples)
{
    QVector<Run> runs;
    for (int i = 0; i < samples.size(); ++i) {
        const bool penDown = samples.at(i).pressure > 0;
        if (runs.isEmpty() || runs.last().penDown != penDown)
            runs.append(Run{penDown, i, 0});
        ++runs.last().count;
    }
    return runs;
}

QByteArray millisecondsSince(int64_t startNs, int64_t timeNs)
{
    const int64_t microseconds = (timeNs - startNs) / 1000;
    const int64_t whole = microseconds / 1000;
    const int64_t fraction = microseconds % 1000;
    QByteArray text = (microseconds < 0 && whole == 0) ? QByteArray("-") : QByteArray();
    text += QByteArray::number(qlonglong(whole)) + '.';
    text += QByteArray::number(qlonglong(fraction < 0 ? -fraction : fraction)).rightJustified(3, '0');
    return text;
}

} // namespace penruns
