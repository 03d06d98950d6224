#pragma once

// The ten finders. Each is a stateless value; everything it needs comes from the scan's context.
// Implementations live in one file per family: Places, Steam, Apps, Leftovers, Personal.

#include "QuandrilCore/Scanning/Scanner.h"

namespace Quandril {

// Catalog places (Places.cpp).
class PlacesFinder final : public SpaceFinder {
public:
    FinderResult find(const ScanContext& context) const override;
};

// Games to move and workshop mods left behind (Steam.cpp).
class SteamFinder final : public SpaceFinder {
public:
    FinderResult find(const ScanContext& context) const override;
};

// Simulator runtimes, old installers, apps not used for long (Apps.cpp).
class SimulatorsFinder final : public SpaceFinder {
public:
    FinderResult find(const ScanContext& context) const override;
};

class InstallersFinder final : public SpaceFinder {
public:
    FinderResult find(const ScanContext& context) const override;
};

class UnusedAppsFinder final : public SpaceFinder {
public:
    FinderResult find(const ScanContext& context) const override;
};

// Data of apps installed elsewhere or gone, and app caches (Leftovers.cpp).
class SplitInstallsFinder final : public SpaceFinder {
public:
    FinderResult find(const ScanContext& context) const override;
};

class LeftoversFinder final : public SpaceFinder {
public:
    FinderResult find(const ScanContext& context) const override;
};

class AppCachesFinder final : public SpaceFinder {
public:
    FinderResult find(const ScanContext& context) const override;
};

// Folders left in /Volumes and the user's own big files (Personal.cpp).
class StaleMountsFinder final : public SpaceFinder {
public:
    FinderResult find(const ScanContext& context) const override;
};

class PersonalFinder final : public SpaceFinder {
public:
    FinderResult find(const ScanContext& context) const override;
};

} // namespace Quandril
