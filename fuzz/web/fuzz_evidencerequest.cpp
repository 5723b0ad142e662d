// The body of a page's "2102" pen data request, as the WebSocket server hands
// the message over.
#include "evidence/evidencerequest.h"
#include "fuzzer.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString message = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    EvidenceRequest request;
    QString error;
    if (!evidencerequest::parse(message, &request, &error)) {
        FUZZ_EXPECT(!error.isEmpty());
        FUZZ_EXPECT(request.formats == 0 && !request.hasDocument);
        return 0;
    }
    // What is taken is exactly what the rules allow.
    FUZZ_EXPECT((request.formats & ~(EvidenceRequest::InkML | EvidenceRequest::Json | EvidenceRequest::Svg)) == 0);
    if (request.hasDocument) {
        FUZZ_EXPECT(request.documentSha256.size() == 64);
        FUZZ_EXPECT(request.reason.size() <= 2 * evidencerequest::kMaxReasonChars);
    } else {
        FUZZ_EXPECT(request.documentSha256.isEmpty() && request.reason.isEmpty());
    }
    // The echo is JSON that reads back to the same request.
    const QByteArray echo = QJsonDocument(request.toJson()).toJson(QJsonDocument::Compact);
    EvidenceRequest again;
    QString againError;
    FUZZ_EXPECT(evidencerequest::parse(QStringLiteral("{\"body\":") + QString::fromUtf8(echo) + '}', &again, &againError));
    FUZZ_EXPECT(again.formats == request.formats && again.hasDocument == request.hasDocument);
    FUZZ_EXPECT(again.documentSha256 == request.documentSha256 && again.reason == request.reason);
    return 0;
}
