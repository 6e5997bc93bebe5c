#pragma once
// The one data-access object of the program. It holds every SQL statement;
// callers pass row records and ids and get back a success flag, a filled
// record, a new id or a list of records (which the caller then owns).
//
// Two maps, guarded by one mutex, tell for a live item or task id the
// LiveSourceType of its source and its run word (1 started, 0 stopped). No
// statement runs while that mutex is held; the connection serialises
// statements itself.
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/ADODataBase.h"
#include "core/RowRecords.h"

class CDatabaseManager {
public:
    static CDatabaseManager& Instance();

    // The application's open connection; set once at start-up. Logs an ERROR
    // line for every id that more than one table uses.
    void SetDatabase(CADODataBase* db);
    CADODataBase* GetDatabase() const { return db_; }
    // Ids held by more than one of the seven tables (each logged as an ERROR).
    std::vector<int> CheckIdCollisions();

    // Live-item maps.
    void AddLiveItem(int id, LiveSourceType type, int runWord);
    void SetLiveObject(int id, int runWord);
    LiveSourceType GetLiveType(int id);
    int GetLiveObject(int id);
    void RemoveLiveItem(int id);

    // Sources and sub-streams.
    bool DeleteLiveItem(int id, LiveSourceType type);
    bool InsertDeviceSource(const DeviceSourceInfo& info, int& newId);
    bool GetDeviceSource(DeviceSourceInfo& info, int id);
    void GetAllDeviceSources(std::deque<DeviceSourceInfo*>& list);
    bool UpdateDeviceSource(const DeviceSourceInfo& info, int id);
    bool FindDeviceSourceByUrl(const std::string& url, bool& found);

    bool InsertSubStream(const SubStreamInfo& info, int& newId);
    void GetSubStreamByUrl(std::deque<SubStreamInfo*>& list, const std::string& url);
    bool GetSubStream(SubStreamInfo& info, int id);
    bool UpdateSubStream(const SubStreamInfo& info, int id);

    bool InsertNetSource(const UrlSourceInfo& info, int& newId);
    bool UpdateNetSource(const UrlSourceInfo& info, int id);
    void GetAllNetSources(std::deque<UrlSourceInfo*>& list);
    bool GetNetSource(UrlSourceInfo& info, int id);
    bool FindNetSourceByUrl(const std::string& url, bool& found);

    bool InsertFileSource(const UrlSourceInfo& info, int& newId);
    bool UpdateFileSource(const UrlSourceInfo& info, int id);
    void GetAllFileSources(std::deque<UrlSourceInfo*>& list);
    bool GetFileSource(UrlSourceInfo& info, int id);
    bool FindFileSourceByUrl(const std::string& url, bool& found);

    bool UpdateLiveStatus(const LiveStatusInfo& info);

    // Forward tasks.
    bool DeleteForwardTask(int taskId);
    bool InsertForwardTask(const ForwardTaskInfo& info, int& newId, LiveSourceType type);
    bool FindForwardTask(const ForwardTaskInfo& info, bool& found);
    bool GetForwardTasksOfLive(std::deque<ForwardTaskInfo*>& list, int liveId, LiveSourceType type);
    bool UpdateForwardTask(const ForwardTaskInfo& info, int taskId);
    bool GetForwardTask(ForwardTaskInfo& info, int taskId);
    bool GetForwardTaskWithSource(ForwardTaskInfo& info, int taskId);
    bool GetForwardTaskLiveId(int taskId, int& liveId);
    void SetAllForwardTasksStatus();

    // Record tasks.
    bool DeleteRecordTask(int taskId);
    bool InsertRecordTask(const RecordTaskInfo& info, int& newId, LiveSourceType type);
    bool FindRecordTask(const RecordTaskInfo& info, bool& found);
    bool GetRecordTasksOfLive(std::deque<RecordTaskInfo*>& list, int liveId, LiveSourceType type);
    bool UpdateRecordTask(const RecordTaskInfo& info, int taskId);
    bool GetRecordTask(RecordTaskInfo& info, int taskId);
    bool GetRecordTaskWithSource(RecordTaskInfo& info, int taskId);
    bool GetScheduledRecordTasks(std::deque<RecordTaskInfo*>& list, LiveSourceType type);
    bool GetRecordTaskLiveId(int taskId, int& liveId);

    // kind 1 forward task, 2 record task.
    bool UpdateTaskStatus(int taskId, int kind, int status);

    // Ixo pulls; their ids never enter the live-item maps.
    bool InsertIxoPull(const IxoPullInfo& info, int& newId);
    void DeleteAllIxoPull();
    bool DeleteIxoPull(int pullId);
    bool GetIxoPull(IxoPullInfo& info, int pullId);

    CDatabaseManager() = default;
    CDatabaseManager(const CDatabaseManager&) = delete;
    CDatabaseManager& operator=(const CDatabaseManager&) = delete;

private:
    std::string Esc(const std::string& text);
    bool Execute(const std::string& statement);
    bool InsertAndRegister(const std::string& statement, int& newId, LiveSourceType type);
    bool GetTaskLiveId(const std::string& statement, int& liveId);

    std::mutex mutex_;
    std::map<int, LiveSourceType> types_;
    std::map<int, int> runWords_;
    CADODataBase* db_ = nullptr;
};
