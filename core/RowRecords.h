#pragma once
// In-memory row records that carry rows between CDatabaseManager and the rest
// of the program. Plain value types: a new record has every text empty and
// every number 0. Texts are UTF-8.
#include <string>

// The table a live item lives in; 0 means no known type wherever a type is
// looked up. Kept an int so it travels through the maps and task requests
// unchanged.
using LiveSourceType = int;
constexpr LiveSourceType LIVE_TYPE_NONE = 0;
constexpr LiveSourceType LIVE_TYPE_DEVICE = 1;     // DeviceSource_info
constexpr LiveSourceType LIVE_TYPE_NET = 2;        // NetSource_info
constexpr LiveSourceType LIVE_TYPE_FILE = 3;       // FileSource_info
constexpr LiveSourceType LIVE_TYPE_SUBSTREAM = 4;  // SubStream_info

// One DeviceSource_info row.
struct DeviceSourceInfo {
    int id = 0;
    std::string alias;
    std::string url;
    int use_video = 0;  // 0 or 1
    std::string videoName;
    int width = 0;
    int height = 0;
    int gop = 0;
    int bps = 0;
    int frameRate = 0;
    int use_audio = 0;  // 0 or 1
    std::string audioName;
    std::string audio_line;
    int audio_volumn = 0;
    std::string sampleRate;  // decimal text, Hz
    int audio_br = 0;
    int audio_stereo = 0;
    int status = 0;
    std::string live_url;
};

// One NetSource_info or FileSource_info row.
struct UrlSourceInfo {
    int id = 0;
    std::string url;
    std::string alias;
    int status = 0;
    std::string live_url;
};

// One SubStream_info row.
struct SubStreamInfo {
    int id = 0;
    std::string alias;
    std::string url;
    bool useVideo = false;
    std::string vFormat;
    std::string vColor;
    int width = 0;
    int height = 0;
    int vBitRate = 0;
    int frameRate = 0;
    int gop = 0;
    bool useAudio = false;
    std::string aFormat;
    std::string sampleRate;  // decimal text, Hz
    int aBitRate = 0;
    int aChannel = 0;  // 0 mono, 1 stereo
    std::string live_url;
    int status = 0;
    // Carried along for callers; no statement writes or reads them.
    std::string extra1;
    std::string extra2;
};

// One forward_task row; url and alias are the source's when read joined.
struct ForwardTaskInfo {
    std::string url;
    std::string alias;
    int id = 0;
    int live_id = 0;
    int status = 0;
    std::string forward_url;
    int buffer_enabled = 0;  // 0 or 1
    int buffer_time = 0;     // seconds
    int buffer_type = 0;     // 0 memory, 1 slice files
    int slice_seconds = 0;
};

// One record_task row; url and alias are the source's when read joined.
struct RecordTaskInfo {
    std::string url;
    std::string alias;
    std::string name;
    int id = 0;
    int live_id = 0;
    int status = 0;
    int fileType = 0;
    int recordType = 0;  // 0 scheduled
    std::string saveFolder;
    std::string startTime;     // "HH:MM:SS"
    std::string endTime;       // "HH:MM:SS"
    std::string days_of_week;  // e.g. "1;2;3;4;5"
    int fileMod = 0;           // 0 append, 1 new file
    int direMod = 0;           // 0 by date, 1 single file
};

// One IXOPull row. The insert does not store id; the new id is handed back.
struct IxoPullInfo {
    int id = 0;
    int listenPort = 0;
    std::string url;
    bool videoTransfer = false;
    std::string vFormat;
    std::string vColor;
    int width = 0;
    int height = 0;
    int vBitRate = 0;
    int frameRate = 0;
    int gop = 0;
    bool audioTransfer = false;
    std::string aFormat;
    std::string sampleRate;  // decimal text, Hz
    int aBitRate = 0;
    int aChannel = 0;  // number of channels
};

// Argument of the live-status update.
struct LiveStatusInfo {
    int id = 0;                       // live id
    LiveSourceType type = LIVE_TYPE_NONE;
    std::string url;                  // the source's address; not stored
    std::string live_url;
    int status = 0;                   // 1 started, 0 stopped
};
