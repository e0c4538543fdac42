#pragma once

// Tests of the readers and runs alone, with no owner of armed bids in the process (so
// nothing can be armed): the rows the parser reads go straight to the store.
#include "database.h"
#include "itemparser.h"

inline void writeStraightToStore(sw::ItemPageParser &parser, sw::ItemDatabase &db)
{
    parser.setWriter({[&db](const sw::ItemRecord &r) { return db.upsertItem(r); },
                      [&db](const sw::ItemRecord &r) { return db.upsertListing(r); }});
}
