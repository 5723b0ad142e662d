#pragma once

// Script snippets that tests run in a page through Browser::evaluate.

#include <QString>

namespace pagescript {

// The <zq-signature> element, and one node of its shadow tree.
inline QString signer()
{
    return QStringLiteral("document.querySelector('zq-signature')");
}

inline QString inSigner(const QString &selector)
{
    return signer() + ".shadowRoot.querySelector('" + selector + "')";
}

// Clicks one of the element's buttons (start, resign, confirm, cancel).
inline QString clickSignerButton(const QString &action)
{
    return inSigner("[data-action=" + action + "]") + ".click(); true";
}

// Ink pixels (alpha above half) of a picture given by a data or page URL.
inline QString inkOfUrl(const QString &urlExpression)
{
    return QString("(async () => { const url = %1; if (!url) return 0;"
                   " const img = new Image(); img.src = url; await img.decode();"
                   " const c = document.createElement('canvas');"
                   " c.width = img.naturalWidth; c.height = img.naturalHeight;"
                   " const g = c.getContext('2d'); g.drawImage(img, 0, 0);"
                   " const d = g.getImageData(0, 0, c.width, c.height).data; let n = 0;"
                   " for (let i = 3; i < d.length; i += 4) if (d[i] > 128) n++; return n; })()")
        .arg(urlExpression);
}

} // namespace pagescript
