#include "pad/jsonkeys.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QVector>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
// Qt's reader refuses a document nested deeper than this.
constexpr int kMaxDepth = 1024;

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Walks `text` as Qt's reader tokenizes it: a string ends at the first quote
// not escaped by a backslash, brackets open and close containers. Calls
// onOpen(isObject) and onClose() for each container, and onKey(begin, end,
// escaped) for each string that names a member of the innermost object, its
// quotes included in [begin, end). False when onKey asks to stop, or when the
// nesting goes deeper than Qt reads.
template <typename OnOpen, typename OnClose, typename OnKey>
bool walkKeys(const QByteArray &text, OnOpen onOpen, OnClose onClose, OnKey onKey)
{
    std::vector<bool> objects;
    const char *data = text.constData();
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '{' || c == '[') {
            if (objects.size() >= size_t(kMaxDepth))
                return false;
            objects.push_back(c == '{');
            onOpen(c == '{');
        } else if (c == '}' || c == ']') {
            if (!objects.empty()) {
                objects.pop_back();
                onClose();
            }
        } else if (c == '"') {
            const int begin = i;
            bool escaped = false;
            for (++i; i < size && data[i] != '"'; ++i) {
                if (data[i] == '\\') {
                    escaped = true;
                    ++i;
                }
            }
            int next = i + 1;
            while (next < size && isJsonSpace(data[next]))
                ++next;
            const bool isKey = next < size && data[next] == ':' && !objects.empty() && objects.back();
            if (isKey && !onKey(begin, i + 1, escaped))
                return false;
        }
    }
    return true;
}

// The key a string literal spells, decoded by Qt itself unless it is plain
// ASCII; false when Qt cannot decode it (then it refuses any text holding it)
// or when it holds a raw NUL.
bool decodeKey(const char *literal, int size, QString *key)
{
    // Qt's reader compares keys holding a raw NUL unlike the strings it
    // decodes for them, so their repeats cannot be found; no JSON text holds
    // one unescaped.
    if (std::memchr(literal, '\0', size_t(size)))
        return false;
    bool plain = true;
    for (int i = 1; i + 1 < size && plain; ++i) {
        const uchar c = uchar(literal[i]);
        plain = c >= 0x20 && c < 0x7f && c != '\\';
    }
    if (plain) {
        *key = QString::fromLatin1(literal + 1, size - 2);
        return true;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson('[' + QByteArray(literal, size) + ']', &error);
    if (error.error != QJsonParseError::NoError)
        return false;
    *key = document.array().at(0).toString();
    return true;
}

struct Span
{
    int begin;
    int end;
};

struct Rename
{
    Span key;
    QByteArray literal;
};

// The members of one open container (none for an array).
struct Members
{
    QVector<Span> keys;
    QHash<QString, int> last; // decoded key -> index in `keys` of its last member
    QVector<int> repeated;    // indexes in `keys` of members a later one repeats
};

// Gives every repeated member a key that no member of its object has.
void renameRepeated(const Members &members, QVector<Rename> *renames)
{
    int serial = 0;
    for (int index : members.repeated) {
        while (members.last.contains(QChar(0) + QString::number(serial)))
            ++serial;
        renames->append({members.keys.at(index), "\"\\u0000" + QByteArray::number(serial) + '"'});
        ++serial;
    }
}
} // namespace

bool jsonRepeatsKeys(const QByteArray &text)
{
    // One key set per open bracket; arrays have none but keep the depth.
    std::vector<QSet<QByteArray>> keys;
    const bool walked = walkKeys(
        text, [&keys](bool) { keys.emplace_back(); }, [&keys] { keys.pop_back(); },
        [&](int begin, int end, bool escaped) {
            const QByteArray key = text.mid(begin, end - begin);
            if (escaped || key.contains('\0') || keys.back().contains(key))
                return false;
            keys.back().insert(key);
            return true;
        });
    return !walked;
}

QByteArray jsonWithUniqueKeys(const QByteArray &text, QString *refusal)
{
    refusal->clear();
    if (!jsonRepeatsKeys(text))
        return text;

    std::vector<Members> open;
    QVector<Rename> renames;
    bool undecodable = false;
    const bool walked = walkKeys(
        text, [&open](bool) { open.emplace_back(); },
        [&] {
            renameRepeated(open.back(), &renames);
            open.pop_back();
        },
        [&](int begin, int end, bool) {
            QString key;
            if (!decodeKey(text.constData() + begin, end - begin, &key)) {
                undecodable = true;
                return false;
            }
            Members &members = open.back();
            const int index = members.keys.size();
            members.keys.append({begin, end});
            auto last = members.last.find(key);
            if (last == members.last.end()) {
                members.last.insert(key, index);
            } else {
                members.repeated.append(*last);
                *last = index;
            }
            return true;
        });
    if (undecodable) {
        *refusal = QStringLiteral("a key is not a valid JSON string");
        return QByteArray();
    }
    if (!walked) {
        *refusal = QStringLiteral("nested deeper than %1 levels").arg(kMaxDepth);
        return QByteArray();
    }
    // Objects left open at the end are never completed by Qt: nothing to rename.
    if (renames.isEmpty())
        return text;

    std::sort(renames.begin(), renames.end(), [](const Rename &a, const Rename &b) { return a.key.begin < b.key.begin; });
    QByteArray unique;
    unique.reserve(text.size() + renames.size() * 8);
    int copied = 0;
    for (const Rename &rename : renames) {
        unique.append(text.constData() + copied, rename.key.begin - copied);
        unique.append(rename.literal);
        copied = rename.key.end;
    }
    unique.append(text.constData() + copied, text.size() - copied);
    return unique;
}
