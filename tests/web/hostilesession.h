#pragma once

// One driver on a virtual QZ07 that a test attacks, then asks for an
// ordinary signing that must still come out whole.

#include "web/signingsession.h"

#include <QDebug>

// Starts a signing, plays the demo signature, confirms it and checks that
// save.png and path.save came out with ink in them.
inline bool signsNormally(SigningSession &s)
{
    int blanks = 0;
    for (const ImageMessage &m : s.images())
        blanks += m.drawing ? 0 : 1;
    QFile::remove(s.outDir() + "/save.png");
    QFile::remove(s.outDir() + "/path.save");
    s.request("2025", s.outDir());
    s.request("2023");
    if (!s.waitForBlankImages(blanks + 1, 20000)) {
        qWarning() << "the signing did not start";
        return false;
    }
    if (!s.playDemoSignature()) {
        qWarning() << "the demo signature did not play";
        return false;
    }
    s.request("2022");
    if (!s.waitForBlankImages(blanks + 2, 20000)) {
        qWarning() << "the confirm was not answered";
        return false;
    }
    const QImage saved(s.outDir() + "/save.png");
    QFile path(s.outDir() + "/path.save");
    if (saved.isNull() || inkPixels(saved) < 200 || !path.open(QIODevice::ReadOnly) || path.size() < 1000) {
        qWarning() << "the saved signature is missing or empty";
        return false;
    }
    return true;
}

// The page's answer to "2040", the cheapest request with a reply.
inline bool answersSerialRequest(SigningSession &s, WsClient &page)
{
    const int before = page.messages.size();
    page.sendJson(QJsonObject{{"bizcode", "2040"}});
    if (!page.waitForMessages(before + 1, 20000))
        return false;
    return page.jsonMessages().last().value("bizcode").toString() == "2040" && s.driver->isRunning();
}
