#include "core/DatabaseManager.h"

#include <cstdarg>
#include <cstdio>

#include "core/Log.h"

namespace {

std::string Sql(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Sql(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[0], out.size(), format, ap);
        out.resize(static_cast<size_t>(n));
    }
    va_end(ap);
    return out;
}

// A failed read leaves 0 or an empty text and the operation goes on.
void ReadInt(CADORecordset& rs, const char* field, int& value) {
    rs.GetFieldValueInt(field, value);
}

void ReadText(CADORecordset& rs, const char* field, std::string& value) {
    rs.GetFieldValueString(field, value);
}

// Flag columns count as set only when they hold exactly 1 (a database
// boolean's true, -1, or any other value reads as clear).
int ReadFlag(CADORecordset& rs, const char* field) {
    int v = 0;
    rs.GetFieldValueInt(field, v);
    return v == 1 ? 1 : 0;
}

int Flag(int v) { return v == 1 ? 1 : 0; }

const char* SourceTable(LiveSourceType type) {
    switch (type) {
        case LIVE_TYPE_DEVICE: return "DeviceSource_info";
        case LIVE_TYPE_NET: return "NetSource_info";
        case LIVE_TYPE_FILE: return "FileSource_info";
        case LIVE_TYPE_SUBSTREAM: return "SubStream_info";
        default: return nullptr;
    }
}

void ReadDeviceSource(CADORecordset& rs, DeviceSourceInfo& info) {
    ReadInt(rs, "id", info.id);
    ReadText(rs, "alias", info.alias);
    ReadText(rs, "url", info.url);
    info.use_video = ReadFlag(rs, "use_video");
    ReadText(rs, "videoName", info.videoName);
    ReadInt(rs, "width", info.width);
    ReadInt(rs, "height", info.height);
    ReadInt(rs, "bps", info.bps);
    ReadInt(rs, "gop", info.gop);
    ReadInt(rs, "frameRate", info.frameRate);
    info.use_audio = ReadFlag(rs, "use_audio");
    ReadText(rs, "audioName", info.audioName);
    ReadText(rs, "audio_line", info.audio_line);
    ReadInt(rs, "audio_volumn", info.audio_volumn);
    ReadText(rs, "sampleRate", info.sampleRate);
    ReadInt(rs, "audio_br", info.audio_br);
    ReadInt(rs, "audio_stereo", info.audio_stereo);
    ReadInt(rs, "status", info.status);
    ReadText(rs, "live_url", info.live_url);
}

void ReadSubStream(CADORecordset& rs, SubStreamInfo& info) {
    ReadInt(rs, "id", info.id);
    ReadText(rs, "alias", info.alias);
    ReadText(rs, "url", info.url);
    info.useVideo = ReadFlag(rs, "useVideo") == 1;
    ReadText(rs, "vFormat", info.vFormat);
    ReadText(rs, "vColor", info.vColor);
    ReadInt(rs, "width", info.width);
    ReadInt(rs, "height", info.height);
    ReadInt(rs, "frameRate", info.frameRate);
    ReadInt(rs, "gop", info.gop);
    ReadInt(rs, "vBitRate", info.vBitRate);
    info.useAudio = ReadFlag(rs, "useAudio") == 1;
    ReadText(rs, "aFormat", info.aFormat);
    ReadText(rs, "sampleRate", info.sampleRate);
    ReadInt(rs, "aBitRate", info.aBitRate);
    ReadInt(rs, "aChannel", info.aChannel);
    ReadText(rs, "live_url", info.live_url);
    ReadInt(rs, "status", info.status);
}

void ReadUrlSource(CADORecordset& rs, UrlSourceInfo& info) {
    ReadInt(rs, "id", info.id);
    ReadText(rs, "alias", info.alias);
    ReadText(rs, "url", info.url);
    ReadInt(rs, "status", info.status);
    ReadText(rs, "live_url", info.live_url);
}

// Reading one row: true only when the query opened and a first row exists.
template <typename Record, typename Reader>
bool ReadOne(CADODataBase* db, const std::string& statement, Record& info, Reader read) {
    CADORecordset rs(db);
    if (!rs.Open(statement, CADORecordset::openQuery)) return false;
    if (rs.GetRecordCount() > 0) {
        rs.MoveFirst();
        if (!rs.IsEof()) {
            read(rs, info);
            rs.Close();
            return true;
        }
    }
    rs.Close();
    return false;
}

// Reading a list: one new record per row, in the order the rows came back.
template <typename Record, typename Reader>
bool ReadList(CADODataBase* db, const std::string& statement, std::deque<Record*>& list, Reader read) {
    CADORecordset rs(db);
    if (!rs.Open(statement, CADORecordset::openQuery)) return false;
    if (rs.GetRecordCount() > 0) {
        rs.MoveFirst();
        while (!rs.IsEof()) {
            Record* r = new Record();
            read(rs, *r);
            list.push_back(r);
            if (!rs.MoveNext()) break;
        }
    }
    rs.Close();
    return true;
}

bool FindAny(CADODataBase* db, const std::string& statement, bool& found) {
    CADORecordset rs(db);
    bool opened = rs.Open(statement, CADORecordset::openQuery);
    if (opened) found = rs.GetRecordCount() >= 1;
    rs.Close();
    return opened;
}

}  // namespace

CDatabaseManager& CDatabaseManager::Instance() {
    static CDatabaseManager manager;
    return manager;
}

void CDatabaseManager::SetDatabase(CADODataBase* db) {
    db_ = db;
    if (db_ && db_->IsOpen()) CheckIdCollisions();
}

std::vector<int> CDatabaseManager::CheckIdCollisions() {
    std::vector<int> ids;
    CADORecordset rs(db_);
    const char* statement =
        "select id, group_concat(tbl) as tables from ("
        "select id, 'DeviceSource_info' as tbl from DeviceSource_info "
        "union all select id, 'NetSource_info' from NetSource_info "
        "union all select id, 'FileSource_info' from FileSource_info "
        "union all select id, 'SubStream_info' from SubStream_info "
        "union all select id, 'forward_task' from forward_task "
        "union all select id, 'record_task' from record_task "
        "union all select id, 'IXOPull' from IXOPull"
        ") t group by id having count(*) > 1 order by id";
    if (!rs.Open(statement, CADORecordset::openQuery)) {
        LogError("cannot check the database ids: %s", rs.GetLastError().c_str());
        return ids;
    }
    for (rs.MoveFirst(); !rs.IsEof(); rs.MoveNext()) {
        int id = 0;
        std::string tables;
        rs.GetFieldValueInt("id", id);
        rs.GetFieldValueString("tables", tables);
        LogError("database id %d is used by more than one table (%s); their rows will be mistaken "
                 "for one another", id, tables.c_str());
        ids.push_back(id);
    }
    rs.Close();
    return ids;
}

std::string CDatabaseManager::Esc(const std::string& text) {
    return db_ ? db_->EscapeText(text) : text;
}

bool CDatabaseManager::Execute(const std::string& statement) {
    return db_ && db_->Execute(statement);
}

bool CDatabaseManager::InsertAndRegister(const std::string& statement, int& newId, LiveSourceType type) {
    // The backend's last-insert id, taken with the insert under the
    // connection's lock: no other insert can come between the two.
    int id = 0;
    if (!db_ || !db_->ExecuteInsert(statement, id)) return false;
    newId = id;
    AddLiveItem(id, type, 0);
    return true;
}

// ---------------------------------------------------------------------------
// Maps

void CDatabaseManager::AddLiveItem(int id, LiveSourceType type, int runWord) {
    std::lock_guard<std::mutex> g(mutex_);
    types_.emplace(id, type);
    runWords_.emplace(id, runWord);
}

void CDatabaseManager::SetLiveObject(int id, int runWord) {
    std::lock_guard<std::mutex> g(mutex_);
    auto it = runWords_.find(id);
    if (it != runWords_.end()) it->second = runWord;
}

LiveSourceType CDatabaseManager::GetLiveType(int id) {
    std::lock_guard<std::mutex> g(mutex_);
    auto it = types_.find(id);
    return it == types_.end() ? LIVE_TYPE_NONE : it->second;
}

int CDatabaseManager::GetLiveObject(int id) {
    std::lock_guard<std::mutex> g(mutex_);
    auto it = runWords_.find(id);
    return it == runWords_.end() ? 0 : it->second;
}

void CDatabaseManager::RemoveLiveItem(int id) {
    std::lock_guard<std::mutex> g(mutex_);
    types_.erase(id);
    runWords_.erase(id);
}

// ---------------------------------------------------------------------------
// Sources and sub-streams

bool CDatabaseManager::DeleteLiveItem(int id, LiveSourceType type) {
    std::string statement;
    switch (type) {
        case LIVE_TYPE_DEVICE: statement = Sql("delete from DeviceSource_info where id = %d", id); break;
        case LIVE_TYPE_NET: statement = Sql("delete from NetSource_info where id = %d", id); break;
        case LIVE_TYPE_FILE: statement = Sql("delete from FileSource_info where id = %d", id); break;
        case LIVE_TYPE_SUBSTREAM: statement = Sql("delete from SubStream_info where id = %d", id); break;
        default: break;
    }
    if (!Execute(statement)) return false;
    RemoveLiveItem(id);
    return true;
}

bool CDatabaseManager::InsertDeviceSource(const DeviceSourceInfo& info, int& newId) {
    std::string statement = Sql(
        "insert into DeviceSource_info (alias,url,status, \t\t\t\t  use_video, videoName,width, height,gop,bps,frameRate,"
        "\t\t\t\t  use_audio,audioName,audio_line,audio_volumn,sampleRate, audio_br,audio_stereo)"
        "\t\t\t\t  values ('%s','%s',%d,%d,'%s',%d,%d,%d,%d,%d,%d,'%s','%s',%d,'%s',%d,%d)",
        Esc(info.alias).c_str(), Esc(info.url).c_str(), info.status, Flag(info.use_video),
        Esc(info.videoName).c_str(), info.width, info.height, info.gop, info.bps, info.frameRate,
        Flag(info.use_audio), Esc(info.audioName).c_str(), Esc(info.audio_line).c_str(), info.audio_volumn,
        Esc(info.sampleRate).c_str(), info.audio_br, info.audio_stereo);
    return InsertAndRegister(statement, newId, LIVE_TYPE_DEVICE);
}

bool CDatabaseManager::GetDeviceSource(DeviceSourceInfo& info, int id) {
    return ReadOne(db_, Sql("select * from DeviceSource_info where id = %d", id), info, ReadDeviceSource);
}

void CDatabaseManager::GetAllDeviceSources(std::deque<DeviceSourceInfo*>& list) {
    ReadList(db_, "select * from DeviceSource_info", list, ReadDeviceSource);
}

bool CDatabaseManager::UpdateDeviceSource(const DeviceSourceInfo& info, int id) {
    return Execute(Sql(
        "UPDATE DeviceSource_info set\t\t\t\t  alias='%s',url='%s',status=%d,live_url='%s',"
        "\t\t\t\t  use_video=%d,videoName='%s',width=%d, height=%d,gop=%d,bps=%d,frameRate=%d,"
        "\t\t\t\t  use_audio=%d,audioName='%s',audio_line='%s',audio_volumn=%d,sampleRate='%s',audio_br=%d,audio_stereo=%d"
        "\t\t\t\t  where id=%d",
        Esc(info.alias).c_str(), Esc(info.url).c_str(), info.status, Esc(info.live_url).c_str(),
        Flag(info.use_video), Esc(info.videoName).c_str(), info.width, info.height, info.gop, info.bps,
        info.frameRate, Flag(info.use_audio), Esc(info.audioName).c_str(), Esc(info.audio_line).c_str(),
        info.audio_volumn, Esc(info.sampleRate).c_str(), info.audio_br, info.audio_stereo, id));
}

bool CDatabaseManager::FindDeviceSourceByUrl(const std::string& url, bool& found) {
    return FindAny(db_, Sql("select * from DeviceSource_info where url = '%s'", Esc(url).c_str()), found);
}

bool CDatabaseManager::InsertSubStream(const SubStreamInfo& info, int& newId) {
    std::string statement = Sql(
        "insert into SubStream_info (alias,url, useVideo, vFormat,vColor, width,height,frameRate,gop,vBitRate,"
        "useAudio,aFormat,sampleRate,aBitRate, aChannel,status) values "
        "('%s','%s',%d,'%s','%s',%d,%d,%d,%d,%d,%d,'%s','%s',%d,%d,%d)",
        Esc(info.alias).c_str(), Esc(info.url).c_str(), info.useVideo ? 1 : 0, Esc(info.vFormat).c_str(),
        Esc(info.vColor).c_str(), info.width, info.height, info.frameRate, info.gop, info.vBitRate,
        info.useAudio ? 1 : 0, Esc(info.aFormat).c_str(), Esc(info.sampleRate).c_str(), info.aBitRate,
        info.aChannel, info.status);
    return InsertAndRegister(statement, newId, LIVE_TYPE_SUBSTREAM);
}

void CDatabaseManager::GetSubStreamByUrl(std::deque<SubStreamInfo*>& list, const std::string& url) {
    ReadList(db_, Sql("select * from SubStream_info where url = '%s'", Esc(url).c_str()), list, ReadSubStream);
}

bool CDatabaseManager::GetSubStream(SubStreamInfo& info, int id) {
    return ReadOne(db_, Sql("select * from SubStream_info where id = %d", id), info, ReadSubStream);
}

bool CDatabaseManager::UpdateSubStream(const SubStreamInfo& info, int id) {
    return Execute(Sql(
        "UPDATE SubStream_info set\t\t\t\t  status=%d,live_url='%s',alias='%s',url='%s',"
        "\t\t\t\t  useVideo=%d,vFormat='%s',vColor='%s', width=%d, height = %d,frameRate = %d,gop = %d,vBitRate = %d,"
        "\t\t\t\t  useAudio=%d, aFormat='%s', sampleRate='%s', aBitRate=%d, aChannel=%d"
        "\t\t\t\t  where id=%d",
        info.status, Esc(info.live_url).c_str(), Esc(info.alias).c_str(), Esc(info.url).c_str(),
        info.useVideo ? 1 : 0, Esc(info.vFormat).c_str(), Esc(info.vColor).c_str(), info.width, info.height,
        info.frameRate, info.gop, info.vBitRate, info.useAudio ? 1 : 0, Esc(info.aFormat).c_str(),
        Esc(info.sampleRate).c_str(), info.aBitRate, info.aChannel, id));
}

bool CDatabaseManager::InsertNetSource(const UrlSourceInfo& info, int& newId) {
    return InsertAndRegister(Sql("insert into NetSource_info (url,alias) values ('%s','%s')",
                                 Esc(info.url).c_str(), Esc(info.alias).c_str()),
                             newId, LIVE_TYPE_NET);
}

bool CDatabaseManager::UpdateNetSource(const UrlSourceInfo& info, int id) {
    return Execute(Sql("update NetSource_info set alias='%s',url='%s' where id=%d", Esc(info.alias).c_str(),
                       Esc(info.url).c_str(), id));
}

void CDatabaseManager::GetAllNetSources(std::deque<UrlSourceInfo*>& list) {
    ReadList(db_, "select * from NetSource_info", list, ReadUrlSource);
}

bool CDatabaseManager::GetNetSource(UrlSourceInfo& info, int id) {
    return ReadOne(db_, Sql("select * from NetSource_info where id = %d", id), info, ReadUrlSource);
}

bool CDatabaseManager::FindNetSourceByUrl(const std::string& url, bool& found) {
    return FindAny(db_, Sql("select * from NetSource_info where url='%s'", Esc(url).c_str()), found);
}

bool CDatabaseManager::InsertFileSource(const UrlSourceInfo& info, int& newId) {
    return InsertAndRegister(Sql("insert into FileSource_info (url,alias) values ('%s','%s')",
                                 Esc(info.url).c_str(), Esc(info.alias).c_str()),
                             newId, LIVE_TYPE_FILE);
}

bool CDatabaseManager::UpdateFileSource(const UrlSourceInfo& info, int id) {
    return Execute(Sql("update FileSource_info set url='%s',alias='%s' where id=%d", Esc(info.url).c_str(),
                       Esc(info.alias).c_str(), id));
}

void CDatabaseManager::GetAllFileSources(std::deque<UrlSourceInfo*>& list) {
    ReadList(db_, "select * from FileSource_info", list, ReadUrlSource);
}

bool CDatabaseManager::GetFileSource(UrlSourceInfo& info, int id) {
    return ReadOne(db_, Sql("select * from FileSource_info where id = %d", id), info, ReadUrlSource);
}

bool CDatabaseManager::FindFileSourceByUrl(const std::string& url, bool& found) {
    return FindAny(db_, Sql("select * from FileSource_info where url = '%s'", Esc(url).c_str()), found);
}

bool CDatabaseManager::UpdateLiveStatus(const LiveStatusInfo& info) {
    std::string statement;
    const char* table = SourceTable(info.type);
    if (table) {
        std::string format = std::string("UPDATE ") + table + " set live_url='%s',status=%d  where id=%d";
        statement = Sql(format.c_str(), Esc(info.live_url).c_str(), info.status, info.id);
    }
    return Execute(statement);
}

// ---------------------------------------------------------------------------
// Forward tasks

namespace {

// Joined results name the task's own id and status table.column, since the
// source table has columns of the same names.
void ReadForwardTaskRow(CADORecordset& rs, ForwardTaskInfo& info, bool joined) {
    ReadInt(rs, joined ? "forward_task.id" : "id", info.id);
    ReadInt(rs, joined ? "forward_task.status" : "status", info.status);
    if (joined) ReadText(rs, "alias", info.alias);
    ReadInt(rs, "live_id", info.live_id);
    ReadText(rs, "forward_url", info.forward_url);
    info.buffer_enabled = ReadFlag(rs, "buffer_enabled");
    ReadInt(rs, "buffer_time", info.buffer_time);
    ReadInt(rs, "buffer_type", info.buffer_type);
    ReadInt(rs, "slice_seconds", info.slice_seconds);
}

void ReadRecordTaskRow(CADORecordset& rs, RecordTaskInfo& info, bool joined) {
    ReadInt(rs, joined ? "record_task.id" : "id", info.id);
    ReadInt(rs, joined ? "record_task.status" : "status", info.status);
    if (joined) ReadText(rs, "alias", info.alias);
    ReadText(rs, "name", info.name);
    ReadInt(rs, "fileType", info.fileType);
    ReadInt(rs, "recordType", info.recordType);
    ReadText(rs, "saveFolder", info.saveFolder);
    ReadText(rs, "startTime", info.startTime);
    ReadText(rs, "endTime", info.endTime);
    ReadText(rs, "days_of_week", info.days_of_week);
    ReadInt(rs, "fileMod", info.fileMod);
    ReadInt(rs, "direMod", info.direMod);
    ReadInt(rs, "live_id", info.live_id);
}

}  // namespace

bool CDatabaseManager::DeleteForwardTask(int taskId) {
    if (!Execute(Sql("delete from forward_task where id = %d", taskId))) return false;
    RemoveLiveItem(taskId);
    return true;
}

bool CDatabaseManager::InsertForwardTask(const ForwardTaskInfo& info, int& newId, LiveSourceType type) {
    return InsertAndRegister(
        Sql("insert into forward_task (forward_url, live_id, buffer_enabled,buffer_time,buffer_type,slice_seconds,"
            "status ) values ('%s', %d, %d, %d, %d, %d,%d)",
            Esc(info.forward_url).c_str(), info.live_id, Flag(info.buffer_enabled), info.buffer_time,
            info.buffer_type, info.slice_seconds, info.status),
        newId, type);
}

bool CDatabaseManager::FindForwardTask(const ForwardTaskInfo& info, bool& found) {
    return FindAny(db_, Sql("select * from forward_task where live_id = %d and forward_url = '%s'", info.live_id,
                            Esc(info.forward_url).c_str()),
                   found);
}

bool CDatabaseManager::GetForwardTasksOfLive(std::deque<ForwardTaskInfo*>& list, int liveId, LiveSourceType type) {
    const char* table = SourceTable(type);
    std::string statement;
    if (table) {
        std::string format = std::string("select * from forward_task, ") + table + " where forward_task.live_id = " +
                             table + ".id and live_id=%d";
        statement = Sql(format.c_str(), liveId);
    } else {
        statement = Sql("select * from forward_task where live_id=%d", liveId);
    }
    bool joined = table != nullptr;
    return ReadList(db_, statement, list,
                    [joined](CADORecordset& rs, ForwardTaskInfo& r) { ReadForwardTaskRow(rs, r, joined); });
}

bool CDatabaseManager::UpdateForwardTask(const ForwardTaskInfo& info, int taskId) {
    return Execute(Sql("Update forward_task set forward_url='%s', buffer_enabled =%d, buffer_time=%d ,buffer_type=%d, "
                       "slice_seconds=%d,status = %d where id = %d",
                       Esc(info.forward_url).c_str(), Flag(info.buffer_enabled), info.buffer_time, info.buffer_type,
                       info.slice_seconds, info.status, taskId));
}

bool CDatabaseManager::GetForwardTask(ForwardTaskInfo& info, int taskId) {
    // A missing row is a failure, not a record of zeros: the status view
    // drops tasks whose row is gone.
    return ReadOne(db_, Sql("select * from forward_task where id = %d", taskId), info,
                   [](CADORecordset& rs, ForwardTaskInfo& r) {
                       ReadText(rs, "forward_url", r.forward_url);
                       r.buffer_enabled = ReadFlag(rs, "buffer_enabled");
                       ReadInt(rs, "buffer_time", r.buffer_time);
                       ReadInt(rs, "live_id", r.live_id);
                       ReadInt(rs, "buffer_type", r.buffer_type);
                       ReadInt(rs, "slice_seconds", r.slice_seconds);
                       ReadInt(rs, "status", r.status);
                   });
}

bool CDatabaseManager::GetTaskLiveId(const std::string& statement, int& liveId) {
    return ReadOne(db_, statement, liveId, [](CADORecordset& rs, int& id) { rs.GetFieldValueInt("live_id", id); });
}

bool CDatabaseManager::GetForwardTaskLiveId(int taskId, int& liveId) {
    return GetTaskLiveId(Sql("select * from forward_task where id = %d", taskId), liveId);
}

bool CDatabaseManager::GetForwardTaskWithSource(ForwardTaskInfo& info, int taskId) {
    int liveId = 0;
    if (!GetForwardTaskLiveId(taskId, liveId)) return false;
    const char* table = SourceTable(GetLiveType(liveId));
    if (!table) return false;  // the source is not a known live item
    std::string format = std::string("select * from forward_task, ") + table +
                         " where forward_task.id = %d and forward_task.live_id = " + table + ".id";
    return ReadOne(db_, Sql(format.c_str(), taskId), info, [](CADORecordset& rs, ForwardTaskInfo& r) {
        ReadText(rs, "url", r.url);
        ReadInt(rs, "live_id", r.live_id);
        ReadInt(rs, "forward_task.status", r.status);
        ReadText(rs, "forward_url", r.forward_url);
        r.buffer_enabled = ReadFlag(rs, "buffer_enabled");
        ReadInt(rs, "buffer_time", r.buffer_time);
        ReadInt(rs, "buffer_type", r.buffer_type);
        ReadInt(rs, "slice_seconds", r.slice_seconds);
    });
}

void CDatabaseManager::SetAllForwardTasksStatus() { Execute("UPDATE forward_task set status=1"); }

// ---------------------------------------------------------------------------
// Record tasks

bool CDatabaseManager::DeleteRecordTask(int taskId) {
    if (!Execute(Sql("delete from record_task where id = %d", taskId))) return false;
    RemoveLiveItem(taskId);
    return true;
}

bool CDatabaseManager::InsertRecordTask(const RecordTaskInfo& info, int& newId, LiveSourceType type) {
    return InsertAndRegister(
        Sql("insert into record_task (name,fileType, recordType, saveFolder, startTime, endTime, days_of_week,"
            "fileMod,direMod, live_id,status) values ('%s',%d, %d, '%s', '%s', '%s', '%s', %d,%d,%d,%d)",
            Esc(info.name).c_str(), info.fileType, info.recordType, Esc(info.saveFolder).c_str(),
            Esc(info.startTime).c_str(), Esc(info.endTime).c_str(), Esc(info.days_of_week).c_str(), info.fileMod,
            info.direMod, info.live_id, info.status),
        newId, type);
}

bool CDatabaseManager::FindRecordTask(const RecordTaskInfo& info, bool& found) {
    return FindAny(db_, Sql("select * from record_task where (live_id=%d and fileType=%d and saveFolder='%s')",
                            info.live_id, info.fileType, Esc(info.saveFolder).c_str()),
                   found);
}

bool CDatabaseManager::GetRecordTasksOfLive(std::deque<RecordTaskInfo*>& list, int liveId, LiveSourceType type) {
    const char* table = SourceTable(type);
    std::string statement;
    if (table) {
        std::string format = std::string("select * from record_task, ") + table + " where record_task.live_id = " +
                             table + ".id and live_id=%d";
        statement = Sql(format.c_str(), liveId);
    } else {
        statement = Sql("select * from record_task where live_id=%d", liveId);
    }
    bool joined = table != nullptr;
    return ReadList(db_, statement, list,
                    [joined](CADORecordset& rs, RecordTaskInfo& r) { ReadRecordTaskRow(rs, r, joined); });
}

bool CDatabaseManager::UpdateRecordTask(const RecordTaskInfo& info, int taskId) {
    return Execute(Sql("Update record_task set name='%s',fileType = %d, recordType=%d, saveFolder='%s', "
                       "startTime='%s', endTime='%s', days_of_week = '%s',fileMod = %d,direMod=%d,live_id=%d,"
                       "status=%d where id = %d",
                       Esc(info.name).c_str(), info.fileType, info.recordType, Esc(info.saveFolder).c_str(),
                       Esc(info.startTime).c_str(), Esc(info.endTime).c_str(), Esc(info.days_of_week).c_str(),
                       info.fileMod, info.direMod, info.live_id, info.status, taskId));
}

bool CDatabaseManager::GetRecordTask(RecordTaskInfo& info, int taskId) {
    return ReadOne(db_, Sql("select * from record_task where id = %d", taskId), info,
                   [](CADORecordset& rs, RecordTaskInfo& r) {
                       ReadText(rs, "name", r.name);
                       ReadInt(rs, "id", r.id);
                       ReadInt(rs, "live_id", r.live_id);
                       ReadInt(rs, "fileType", r.fileType);
                       ReadInt(rs, "recordType", r.recordType);
                       ReadText(rs, "saveFolder", r.saveFolder);
                       ReadText(rs, "startTime", r.startTime);
                       ReadText(rs, "endTime", r.endTime);
                       ReadText(rs, "days_of_week", r.days_of_week);
                       ReadInt(rs, "fileMod", r.fileMod);
                       ReadInt(rs, "direMod", r.direMod);
                       ReadInt(rs, "status", r.status);
                   });
}

bool CDatabaseManager::GetRecordTaskLiveId(int taskId, int& liveId) {
    return GetTaskLiveId(Sql("select * from record_task where id = %d", taskId), liveId);
}

bool CDatabaseManager::GetRecordTaskWithSource(RecordTaskInfo& info, int taskId) {
    int liveId = 0;
    if (!GetRecordTaskLiveId(taskId, liveId)) return false;
    const char* table = SourceTable(GetLiveType(liveId));
    if (!table) return false;
    std::string format = std::string("select * from record_task, ") + table +
                         " where record_task.id = %d and record_task.live_id = " + table + ".id";
    return ReadOne(db_, Sql(format.c_str(), taskId), info, [](CADORecordset& rs, RecordTaskInfo& r) {
        ReadText(rs, "name", r.name);
        ReadText(rs, "url", r.url);
        ReadInt(rs, "live_id", r.live_id);
        ReadInt(rs, "fileType", r.fileType);
        ReadInt(rs, "recordType", r.recordType);
        ReadText(rs, "saveFolder", r.saveFolder);
        ReadText(rs, "startTime", r.startTime);
        ReadText(rs, "endTime", r.endTime);
        ReadText(rs, "days_of_week", r.days_of_week);
        ReadInt(rs, "record_task.status", r.status);
        ReadInt(rs, "fileMod", r.fileMod);
        ReadInt(rs, "direMod", r.direMod);
        ReadInt(rs, "record_task.id", r.id);
    });
}

bool CDatabaseManager::GetScheduledRecordTasks(std::deque<RecordTaskInfo*>& list, LiveSourceType type) {
    const char* table = SourceTable(type);
    if (!table) return false;
    std::string statement = std::string("select * from record_task, ") + table +
                            " where record_task.recordType= 0 and record_task.live_id = " + table + ".id";
    // Succeeds only when at least one task was found.
    size_t before = list.size();
    ReadList(db_, statement, list, [](CADORecordset& rs, RecordTaskInfo& r) {
        ReadText(rs, "name", r.name);
        ReadText(rs, "url", r.url);
        ReadInt(rs, "fileType", r.fileType);
        ReadInt(rs, "recordType", r.recordType);
        ReadText(rs, "saveFolder", r.saveFolder);
        ReadInt(rs, "record_task.id", r.id);
        ReadText(rs, "startTime", r.startTime);
        ReadText(rs, "endTime", r.endTime);
        ReadText(rs, "days_of_week", r.days_of_week);
        ReadInt(rs, "live_id", r.live_id);
        ReadInt(rs, "record_task.status", r.status);
    });
    return list.size() > before;
}

bool CDatabaseManager::UpdateTaskStatus(int taskId, int kind, int status) {
    std::string statement;
    if (kind == 1) statement = Sql("UPDATE forward_task set status=%d  where id=%d", status, taskId);
    else if (kind == 2) statement = Sql("UPDATE record_task set status=%d  where id=%d", status, taskId);
    return Execute(statement);
}

// ---------------------------------------------------------------------------
// Ixo pulls

bool CDatabaseManager::InsertIxoPull(const IxoPullInfo& info, int& newId) {
    std::string statement = Sql(
        "insert into IXOPull (url,listenPort, videoTransfer, vFormat,vColor, width,height,frameRate,gop,vBitRate,"
        "audioTransfer,aFormat,sampleRate,aBitRate, aChannel)\t\t\t\t  values "
        "('%s',%d,%d,'%s','%s',%d,%d,%d,%d,%d,%d,'%s','%s',%d,%d)",
        Esc(info.url).c_str(), info.listenPort, info.videoTransfer ? 1 : 0, Esc(info.vFormat).c_str(),
        Esc(info.vColor).c_str(), info.width, info.height, info.frameRate, info.gop, info.vBitRate,
        info.audioTransfer ? 1 : 0, Esc(info.aFormat).c_str(), Esc(info.sampleRate).c_str(), info.aBitRate,
        info.aChannel);
    int id = 0;
    if (!db_ || !db_->ExecuteInsert(statement, id)) return false;
    newId = id;  // never entered into the live-item maps
    return true;
}

void CDatabaseManager::DeleteAllIxoPull() { Execute("delete from IXOPull"); }

bool CDatabaseManager::DeleteIxoPull(int pullId) {
    return Execute(Sql("delete from IXOPull where id = %d", pullId));
}

bool CDatabaseManager::GetIxoPull(IxoPullInfo& info, int pullId) {
    return ReadOne(db_, Sql("select * from IXOPull where id = %d", pullId), info, [](CADORecordset& rs, IxoPullInfo& r) {
        ReadInt(rs, "id", r.id);
        ReadInt(rs, "listenPort", r.listenPort);
        ReadText(rs, "url", r.url);
        r.videoTransfer = ReadFlag(rs, "videoTransfer") == 1;
        ReadText(rs, "vFormat", r.vFormat);
        ReadText(rs, "vColor", r.vColor);
        ReadInt(rs, "width", r.width);
        ReadInt(rs, "height", r.height);
        ReadInt(rs, "frameRate", r.frameRate);
        ReadInt(rs, "gop", r.gop);
        ReadInt(rs, "vBitRate", r.vBitRate);
        r.audioTransfer = ReadFlag(rs, "audioTransfer") == 1;
        ReadText(rs, "aFormat", r.aFormat);
        ReadText(rs, "sampleRate", r.sampleRate);
        ReadInt(rs, "aBitRate", r.aBitRate);
        ReadInt(rs, "aChannel", r.aChannel);
    });
}
