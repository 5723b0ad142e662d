#include "pad/jsonkeys.h"

#include <QSet>
#include <QVector>

bool jsonRepeatsKeys(const QByteArray &text)
{
    // One key set per open bracket; arrays have none but keep the depth.
    QVector<QSet<QByteArray>> keys;
    QVector<bool> isObject;
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const char c = text[i];
        if (c == '{' || c == '[') {
            isObject.append(c == '{');
            keys.append(QSet<QByteArray>());
        } else if (c == '}' || c == ']') {
            if (!isObject.isEmpty()) {
                isObject.removeLast();
                keys.removeLast();
            }
        } else if (c == '"') {
            const int start = i + 1;
            bool escaped = false;
            for (++i; i < size && text[i] != '"'; ++i) {
                if (text[i] == '\\') {
                    escaped = true;
                    ++i;
                }
            }
            int next = i + 1;
            while (next < size && (text[next] == ' ' || text[next] == '\t' || text[next] == '\n' || text[next] == '\r'))
                ++next;
            const bool isKey = next < size && text[next] == ':' && !isObject.isEmpty() && isObject.last();
            if (!isKey)
                continue;
            if (escaped)
                return true;
            const QByteArray key = text.mid(start, i - start);
            if (keys.last().contains(key))
                return true;
            keys.last().insert(key);
        }
    }
    return false;
}
