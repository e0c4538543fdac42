#pragma once

namespace sw {

class ActivityLog;
class CategoryNames;
class ItemDatabase;
class ItemPageParser;
class PersistentCookieJar;
class Prompter;
class SettingsStore;
class SiteHosts;
struct AppValues;

// The long-lived objects of the program; app/ builds them once at start-up and hands
// this to every window.
struct AppContext
{
    SettingsStore &settings;
    AppValues &values;
    ItemDatabase &db;
    ActivityLog &log;
    Prompter &prompter;
    CategoryNames &categories;
    SiteHosts &hosts;
    PersistentCookieJar &cookies; // shared by every fetcher
    ItemPageParser &parser;
};

} // namespace sw
