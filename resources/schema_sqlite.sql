-- Embedded database velvanet.db (SQLite). The program never creates tables;
-- scripts/make_db.sh builds an empty database from this file.
--
-- Ids of the six source and task tables share one key space in the program,
-- and Ixo pull ids must never equal one of them, so every table draws its ids
-- from a range of its own (AUTOINCREMENT continues from the seeded sequence):
--   DeviceSource_info         1 ..  99999999
--   NetSource_info    100000001 .. 199999999
--   FileSource_info   200000001 .. 299999999
--   SubStream_info    300000001 .. 399999999
--   forward_task      400000001 .. 499999999
--   record_task       500000001 .. 599999999
--   IXOPull           600000001 .. 699999999
-- Integer columns hold 32-bit values; flags hold 0 or 1; texts are UTF-8.

CREATE TABLE DeviceSource_info (
    id            INTEGER PRIMARY KEY AUTOINCREMENT,
    alias         TEXT    NOT NULL DEFAULT '',
    url           TEXT    NOT NULL DEFAULT '',
    status        INTEGER NOT NULL DEFAULT 0,
    use_video     INTEGER NOT NULL DEFAULT 0,
    videoName     TEXT    NOT NULL DEFAULT '',
    width         INTEGER NOT NULL DEFAULT 0,
    height        INTEGER NOT NULL DEFAULT 0,
    gop           INTEGER NOT NULL DEFAULT 0,
    bps           INTEGER NOT NULL DEFAULT 0,
    frameRate     INTEGER NOT NULL DEFAULT 0,
    use_audio     INTEGER NOT NULL DEFAULT 0,
    audioName     TEXT    NOT NULL DEFAULT '',
    audio_line    TEXT    NOT NULL DEFAULT '',
    audio_volumn  INTEGER NOT NULL DEFAULT 0,
    sampleRate    TEXT    NOT NULL DEFAULT '',
    audio_br      INTEGER NOT NULL DEFAULT 0,
    audio_stereo  INTEGER NOT NULL DEFAULT 0,
    live_url      TEXT    NOT NULL DEFAULT ''
);

CREATE TABLE NetSource_info (
    id        INTEGER PRIMARY KEY AUTOINCREMENT,
    url       TEXT    NOT NULL DEFAULT '',
    alias     TEXT    NOT NULL DEFAULT '',
    status    INTEGER NOT NULL DEFAULT 0,
    live_url  TEXT    NOT NULL DEFAULT ''
);

CREATE TABLE FileSource_info (
    id        INTEGER PRIMARY KEY AUTOINCREMENT,
    url       TEXT    NOT NULL DEFAULT '',
    alias     TEXT    NOT NULL DEFAULT '',
    status    INTEGER NOT NULL DEFAULT 0,
    live_url  TEXT    NOT NULL DEFAULT ''
);

CREATE TABLE SubStream_info (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    alias       TEXT    NOT NULL DEFAULT '',
    url         TEXT    NOT NULL DEFAULT '',
    useVideo    INTEGER NOT NULL DEFAULT 0,
    vFormat     TEXT    NOT NULL DEFAULT '',
    vColor      TEXT    NOT NULL DEFAULT '',
    width       INTEGER NOT NULL DEFAULT 0,
    height      INTEGER NOT NULL DEFAULT 0,
    frameRate   INTEGER NOT NULL DEFAULT 0,
    gop         INTEGER NOT NULL DEFAULT 0,
    vBitRate    INTEGER NOT NULL DEFAULT 0,
    useAudio    INTEGER NOT NULL DEFAULT 0,
    aFormat     TEXT    NOT NULL DEFAULT '',
    sampleRate  TEXT    NOT NULL DEFAULT '',
    aBitRate    INTEGER NOT NULL DEFAULT 0,
    aChannel    INTEGER NOT NULL DEFAULT 0,
    status      INTEGER NOT NULL DEFAULT 0,
    live_url    TEXT    NOT NULL DEFAULT ''
);

CREATE TABLE forward_task (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    forward_url     TEXT    NOT NULL DEFAULT '',
    live_id         INTEGER NOT NULL DEFAULT 0,
    buffer_enabled  INTEGER NOT NULL DEFAULT 0,
    buffer_time     INTEGER NOT NULL DEFAULT 0,
    buffer_type     INTEGER NOT NULL DEFAULT 0,
    slice_seconds   INTEGER NOT NULL DEFAULT 0,
    status          INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE record_task (
    id            INTEGER PRIMARY KEY AUTOINCREMENT,
    name          TEXT    NOT NULL DEFAULT '',
    fileType      INTEGER NOT NULL DEFAULT 0,
    recordType    INTEGER NOT NULL DEFAULT 0,
    saveFolder    TEXT    NOT NULL DEFAULT '',
    startTime     TEXT    NOT NULL DEFAULT '',
    endTime       TEXT    NOT NULL DEFAULT '',
    days_of_week  TEXT    NOT NULL DEFAULT '',
    fileMod       INTEGER NOT NULL DEFAULT 0,
    direMod       INTEGER NOT NULL DEFAULT 0,
    live_id       INTEGER NOT NULL DEFAULT 0,
    status        INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE IXOPull (
    id             INTEGER PRIMARY KEY AUTOINCREMENT,
    url            TEXT    NOT NULL DEFAULT '',
    listenPort     INTEGER NOT NULL DEFAULT 0,
    videoTransfer  INTEGER NOT NULL DEFAULT 0,
    vFormat        TEXT    NOT NULL DEFAULT '',
    vColor         TEXT    NOT NULL DEFAULT '',
    width          INTEGER NOT NULL DEFAULT 0,
    height         INTEGER NOT NULL DEFAULT 0,
    frameRate      INTEGER NOT NULL DEFAULT 0,
    gop            INTEGER NOT NULL DEFAULT 0,
    vBitRate       INTEGER NOT NULL DEFAULT 0,
    audioTransfer  INTEGER NOT NULL DEFAULT 0,
    aFormat        TEXT    NOT NULL DEFAULT '',
    sampleRate     TEXT    NOT NULL DEFAULT '',
    aBitRate       INTEGER NOT NULL DEFAULT 0,
    aChannel       INTEGER NOT NULL DEFAULT 0
);

-- Seed each table's sequence at the start of its range.
INSERT INTO sqlite_sequence (name, seq) VALUES
    ('DeviceSource_info', 0),
    ('NetSource_info',    100000000),
    ('FileSource_info',   200000000),
    ('SubStream_info',    300000000),
    ('forward_task',      400000000),
    ('record_task',       500000000),
    ('IXOPull',           600000000);
