// SPDX-License-Identifier: GPL-3.0-or-later
#include "HSPaint.h"

#include <algorithm>

namespace {
// Without word wrap the caption loses characters from its end until its raw width (every "&"
// counted) fits.
QString FitCaption(QString caption, const QFontMetrics& metrics, int maxWidth, bool wordWrap) {
    if (!wordWrap) {
        while (!caption.isEmpty() && metrics.horizontalAdvance(caption) > maxWidth) {
            caption.chop(1);
        }
    }
    return caption;
}

QSize WrappedSize(const QString& caption, const QFontMetrics& metrics, int maxWidth) {
    const QRect r = metrics.boundingRect(
        QRect(0, 0, maxWidth, 1 << 20),
        Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic, caption);
    return r.size();
}
} // namespace

int CaptionTextFlags(THSAlignment alignment) {
    int h = Qt::AlignHCenter;
    if (alignment == taLeftJustify) {
        h = Qt::AlignLeft;
    } else if (alignment == taRightJustify) {
        h = Qt::AlignRight;
    }
    return h | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic;
}

THSCaptionLayout LayoutCaption(const QString& caption, const QFontMetrics& metrics, int w, int h,
                               int p, int gw, int gh, THSButtonStyle style, THSButtonLayout layout,
                               THSAlignment alignment, bool wordWrap) {
    THSCaptionLayout out;
    const bool sideways = layout == blGlyphLeft || layout == blGlyphRight;
    if (style == bsShape || !sideways) {
        out.maxWidth = std::max(w - 8, 0);
    } else {
        out.maxWidth = std::max(w - 8 - (gw > 0 ? gw + 4 : 0), 0);
    }
    out.caption = FitCaption(caption, metrics, out.maxWidth, wordWrap);
    const QSize size = WrappedSize(out.caption, metrics, out.maxWidth);
    out.textWidth = size.width();
    out.textHeight = size.height();
    const int th = out.textHeight;
    const int tw4 = out.caption.isEmpty() ? 0 : out.textWidth + 4;

    if (style == bsShape) {
        out.glyphX = (w - gw) / 2;
        out.glyphY = (h - gh) / 2;
        out.textLeft = p;
        out.textTop = (h - th) / 2 + p;
        return out;
    }
    if (sideways) {
        out.textTop = (h - th) / 2 + p;
        out.textLeft = p + 4;
        out.glyphY = (h - gh) / 2 + p;
        if (layout == blGlyphLeft) {
            if (gw > 0) {
                out.textLeft += gw + 4;
            }
            out.glyphX = p + 4;
            if (!wordWrap) {
                switch (alignment) {
                case taLeftJustify:
                    out.glyphX = p + 4;
                    break;
                case taRightJustify:
                    out.glyphX = w - 4 - gw - tw4 + p;
                    break;
                case taCenter:
                    out.glyphX = (w - gw) / 2 + p - tw4 / 2;
                    break;
                }
            }
        } else {
            out.glyphX = out.textLeft + tw4;
            if (!wordWrap) {
                switch (alignment) {
                case taLeftJustify:
                    out.glyphX = out.textLeft + tw4;
                    break;
                case taRightJustify:
                    out.glyphX = w - 4 + p - gw;
                    break;
                case taCenter:
                    out.glyphX = (w - gw) / 2 + p + tw4 / 2;
                    break;
                }
            }
        }
        return out;
    }
    const int block = th + (gh > 0 ? gh + 4 : 0);
    out.textLeft = p + 4;
    if (layout == blGlyphTop) {
        out.glyphY = (h - block) / 2 + p;
        out.textTop = (h - block) / 2 + gh + p; // the 4-pixel gap counts only in the block
    } else {
        out.textTop = (h - block) / 2 + p;
        out.glyphY = (h - block) / 2 + th + p;
    }
    switch (alignment) {
    case taLeftJustify:
        out.glyphX = p + 4;
        break;
    case taRightJustify:
        out.glyphX = w - gw - 4 + p;
        break;
    case taCenter:
        out.glyphX = (w - gw) / 2 + p;
        break;
    }
    return out;
}
