#pragma once

#include <QString>

namespace sw {

struct AppContext;

// Runs the page route's child until it is told to quit or its parent goes; the exit code.
int runBidPages(AppContext &ctx);

// Loads the browser module and runs runBidPages from it; 3 when the module cannot be loaded
// (why says why).
int runBidPagesFromModule(AppContext &ctx, QString *why);

} // namespace sw
