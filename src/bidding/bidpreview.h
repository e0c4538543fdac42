#pragma once

// The first steps of a bid on the classic site: the preview, asked for early enough and raced
// when it stalls, and the item's request pace.
#include "bidexchange.h"

namespace sw {

// A confirmation this close to the end (beyond the way there) can no longer reach the site.
constexpr qint64 kLastChanceMarginMs = 200;

// What the preview gave: the confirmation form, or why there is none.
struct Preview
{
    enum Kind
    {
        Form,
        Ended,
        Login,
        Failed,
        Gone, // the item went away meanwhile
    };
    Kind kind = Failed;
    QString action;
    QString a;
    QString why;
};

// Waits for the item's pace: at most a few requests a second.
QCoro::Task<> paced(RequestPacer *pacer);

// 1-4. The preview and its confirmation form.
QCoro::Task<Preview> askPreview(BidContext &ctx, const BidRequest &req, const QString &amt,
                                int quantity, qint64 endMs);

} // namespace sw
