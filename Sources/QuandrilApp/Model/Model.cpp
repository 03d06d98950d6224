#include "QuandrilApp/Model/Model.h"

#include <algorithm>
#include <unordered_map>

#include <QScopedValueRollback>

#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/ModelInternals.h"
#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Rules/Catalog.h"

namespace Quandril::App {

namespace {

const std::string protectedWhy = "a path you added";

// The never-touch paths stored under "extraProtected": empty when nothing is stored, absent when
// what is stored can't be read as a list of them.
std::optional<std::vector<ProtectedPath>> storedProtectedPaths(const Preferences& preferences)
{
    const auto stored = preferences.stored(Keys::extraProtected);
    if (!stored)
        return std::vector<ProtectedPath>();
    if (stored->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    const QByteArray bytes = stored->toByteArray();
    try {
        std::vector<ProtectedPath> paths;
        Json::decode(Json::parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))), paths);
        return paths;
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace

Model::Model(Mac mac, Preferences& preferences, ModelServices services, QObject* parent)
    : QObject(parent)
    , mac_(std::make_shared<const Mac>(std::move(mac)))
    , preferences_(preferences)
    , engine_(std::move(services.engine))
    , access_(std::move(services.access))
    , clock_(std::move(services.clock))
    , cloudStop_(std::make_shared<StopFlag>())
    , mailbox_(std::make_shared<Mailbox>(this))
    , readings_(std::make_shared<Readings>())
{
    Q_ASSERT(engine_ && access_ && clock_);
    // Without rules the app still shows drives, History and iCloud; a scan says why it can't run.
    LoadedCatalog loaded = LoadedCatalog::load(*engine_);
    catalog_ = std::move(loaded.catalog);
    catalogFailure_ = std::move(loaded.failure);
    status_ = engine_->status(*mac_);
    // Unreadable stored paths read as none; the bytes stay stored until the list is next saved.
    extraProtected_ = storedProtectedPaths(preferences_).value_or(std::vector<ProtectedPath>());
    connect(&preferences_, &Preferences::changed, this, &Model::followPreference);
    readFirstHistory();
}

void Model::readFirstHistory()
{
    // Years of autopilot runs make a long file, and its Put Back offers look into the Trash: both
    // are read on the pool, never before the windows show. Unstamped, without the readings' lock,
    // so a long read holds up no status reading; it is shown only while no reading taken after a
    // task is, since any of those is at least as new.
    TaskPool::start([engine = engine_, mac = mac_, mailbox = mailbox_] {
        Snapshot first;
        try {
            first.readHistory(*engine, *mac);
        } catch (...) {
            first = Snapshot(); // shown as empty, as a reading after a task would be
        }
        mailbox->post([first = std::move(first)](Model& model) mutable {
            if (model.historyRead())
                return;
            model.history_ = std::move(first.history);
            model.putBackOffered_ = std::move(first.offers);
            model.historyWhyNot_ = std::move(first.historyWhyNot);
            model.firstHistoryShown_ = true;
            emit model.historyChanged();
            emit model.changed();
        });
    });
}

Model::~Model()
{
    prepareToQuit();
    mailbox_->close();
}

void Model::prepareToQuit()
{
    cloudStop_->set(true);
}

// ---- Setters ----

void Model::setStatus(ScanReport status)
{
    status_ = std::move(status);
    // Whatever was read before now is older than this.
    statusStamp_ = readings_->latest();
    emit statusChanged();
    emit changed();
}

void Model::setSelected(std::set<std::string> ids)
{
    selected_ = std::move(ids);
    emit selectionChanged();
    emit changed();
}

void Model::setLastResults(std::vector<CleanResult> results)
{
    lastResults_ = std::move(results);
    emit resultsChanged();
    emit changed();
}

void Model::setExtraProtected(std::vector<ProtectedPath> paths)
{
    extraProtected_ = std::move(paths);
    emit extraProtectedChanged();
    emit changed();
}

void Model::setCloudSelected(std::set<std::string> ids)
{
    cloudSelected_ = std::move(ids);
    emit cloudSelectionChanged();
    emit changed();
}

void Model::setCloudResults(std::vector<CleanResult> results)
{
    cloudResults_ = std::move(results);
    emit cloudResultsChanged();
    emit changed();
}

void Model::announceChange()
{
    emit settingsChanged();
    emit changed();
}

void Model::followPreference(const QString& key)
{
    if (writingPreferences_)
        return;
    emit preferenceChanged(key);
    if (key == Keys::gaugeStyle || key == Keys::freeSpaceSource || key == Keys::sizeUnits)
        emit displayChanged();
    else if (key.startsWith(Keys::goalPrefix) || key == Keys::icloudEnabled)
        emit settingsChanged();
    emit changed();
}

// ---- Derived values ----

std::optional<Goal> Model::goal(const DriveInfo& drive) const
{
    const auto text = preferences_.string(Keys::goal(drive.path));
    if (!text)
        return drive.isStartup ? Goal::parse(std::string(Keys::startupDriveGoal.data(), Keys::startupDriveGoal.size()))
                               : std::nullopt;
    if (text->isEmpty())
        return std::nullopt; // the user chose "No goal"
    return Goal::parse(text->toStdString());
}

std::optional<std::int64_t> Model::startupShort() const
{
    const auto drive = status_.startup();
    if (!drive)
        return std::nullopt;
    const auto target = goal(*drive);
    if (!target)
        return std::nullopt;
    const std::int64_t needed = target->bytes(drive->totalBytes);
    const std::int64_t free = AppFormat::freeBytes(*drive, preferences_);
    if (free >= needed)
        return std::nullopt;
    return Saturating::subtract(needed, free);
}

std::vector<DriveInfo> Model::externals() const
{
    std::vector<DriveInfo> out;
    std::copy_if(status_.drives.begin(), status_.drives.end(), std::back_inserter(out),
                 [](const DriveInfo& drive) { return drive.isExternal(); });
    return out;
}

std::int64_t Model::selectedBytes() const
{
    if (!report_ || selected_.empty())
        return 0;
    std::unordered_map<std::string_view, std::int64_t> sizes;
    for (const Finding& finding : report_->findings)
        sizes.emplace(finding.id, finding.bytes); // the first finding of an id counts
    std::int64_t total = 0;
    for (const std::string& id : selected_) {
        if (auto it = sizes.find(id); it != sizes.end())
            total = Saturating::add(total, it->second);
    }
    return total;
}

std::optional<Plan> Model::plan(const DriveInfo& drive) const
{
    if (!report_)
        return std::nullopt;
    const auto target = goal(drive);
    if (!target)
        return std::nullopt;
    auto planned = Planner::plan(*report_, *target, drive.path);
    // The planner falls back to the startup drive for a drive the scan didn't see: those routes
    // would free space somewhere else than asked. (It matches paths in either Unicode form.)
    if (planned && Platform::nfc(planned->drive.path) != Platform::nfc(drive.path))
        return std::nullopt;
    return planned;
}

const std::vector<std::string>& Model::cloudRoots() const
{
    static const std::vector<std::string> none;
    return cloudScan_ ? cloudScan_->roots : none;
}

bool Model::cloudEnabled() const
{
    return preferences_.booleanValue(Keys::icloudEnabled);
}

void Model::setCloudEnabled(bool enabled)
{
    {
        const QScopedValueRollback writing(writingPreferences_, true);
        preferences_.setBoolean(Keys::icloudEnabled, enabled);
    }
    if (!enabled) {
        cloudScan_.reset();
        cloudScanFailure_.reset();
        cloudSelected_.clear();
    }
    emit preferenceChanged(QString(Keys::icloudEnabled));
    if (!enabled) {
        emit cloudScanChanged();
        emit cloudSelectionChanged();
    }
    emit settingsChanged();
    emit changed();
}

// ---- Never-touch paths ----

void Model::addProtectedPath(const std::string& text)
{
    if (text.empty())
        return; // would otherwise name the whole home folder
    const std::string path = text.front() == '~' || text.front() == '/' ? text : mac_->path("~/" + text);
    if (path.empty())
        return;
    const bool listed = std::any_of(extraProtected_.begin(), extraProtected_.end(),
                                    [&](const ProtectedPath& entry) { return entry.path == path; });
    if (listed)
        return;
    extraProtected_.push_back(ProtectedPath { path, protectedWhy });
    saveExtraProtected();
    emit extraProtectedChanged();
    emit changed();
}

void Model::removeProtectedPath(const std::string& path)
{
    std::erase_if(extraProtected_, [&](const ProtectedPath& entry) { return entry.path == path; });
    saveExtraProtected();
    emit extraProtectedChanged();
    emit changed();
}

void Model::saveExtraProtected()
{
    std::string encoded;
    try {
        encoded = Json::dump(Json::arrayOf(extraProtected_));
    } catch (...) {
        return; // text that isn't UTF-8 has no JSON form: the stored list stays as it was
    }
    // Told through extraProtectedChanged by the callers, not as a preference of its own.
    const QScopedValueRollback writing(writingPreferences_, true);
    // The user's earlier list may be stored in a form this version can't read: keep it.
    if (!storedProtectedPaths(preferences_))
        preferences_.copyStored(Keys::extraProtected, Keys::extraProtectedUnreadable);
    preferences_.setData(Keys::extraProtected, QByteArray::fromStdString(encoded));
}

} // namespace Quandril::App
