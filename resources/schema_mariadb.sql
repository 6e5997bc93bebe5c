-- Velvanet tables for a MariaDB (or MySQL) server. Load into an existing,
-- empty database; README.md (Database) says how.
--
-- Ids of the six source and task tables share one key space in the program,
-- and Ixo pull ids must never equal one of them, so every table draws its ids
-- from a range of its own (the AUTO_INCREMENT start below):
--   DeviceSource_info         1 ..  99999999
--   NetSource_info    100000001 .. 199999999
--   FileSource_info   200000001 .. 299999999
--   SubStream_info    300000001 .. 399999999
--   forward_task      400000001 .. 499999999
--   record_task       500000001 .. 599999999
--   IXOPull           600000001 .. 699999999
-- Integer columns are INT (32-bit, signed) so that they read back as 32-bit
-- integers; flags hold 0 or 1; texts are utf8mb4.

CREATE TABLE DeviceSource_info (
    id            INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
    alias         VARCHAR(255)  NOT NULL DEFAULT '',
    url           VARCHAR(1024) NOT NULL DEFAULT '',
    status        INT NOT NULL DEFAULT 0,
    use_video     INT NOT NULL DEFAULT 0,
    videoName     VARCHAR(255)  NOT NULL DEFAULT '',
    width         INT NOT NULL DEFAULT 0,
    height        INT NOT NULL DEFAULT 0,
    gop           INT NOT NULL DEFAULT 0,
    bps           INT NOT NULL DEFAULT 0,
    frameRate     INT NOT NULL DEFAULT 0,
    use_audio     INT NOT NULL DEFAULT 0,
    audioName     VARCHAR(255)  NOT NULL DEFAULT '',
    audio_line    VARCHAR(255)  NOT NULL DEFAULT '',
    audio_volumn  INT NOT NULL DEFAULT 0,
    sampleRate    VARCHAR(32)   NOT NULL DEFAULT '',
    audio_br      INT NOT NULL DEFAULT 0,
    audio_stereo  INT NOT NULL DEFAULT 0,
    live_url      VARCHAR(1024) NOT NULL DEFAULT ''
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 AUTO_INCREMENT=1;

CREATE TABLE NetSource_info (
    id        INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
    url       VARCHAR(1024) NOT NULL DEFAULT '',
    alias     VARCHAR(255)  NOT NULL DEFAULT '',
    status    INT NOT NULL DEFAULT 0,
    live_url  VARCHAR(1024) NOT NULL DEFAULT ''
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 AUTO_INCREMENT=100000001;

CREATE TABLE FileSource_info (
    id        INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
    url       VARCHAR(1024) NOT NULL DEFAULT '',
    alias     VARCHAR(255)  NOT NULL DEFAULT '',
    status    INT NOT NULL DEFAULT 0,
    live_url  VARCHAR(1024) NOT NULL DEFAULT ''
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 AUTO_INCREMENT=200000001;

CREATE TABLE SubStream_info (
    id          INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
    alias       VARCHAR(255)  NOT NULL DEFAULT '',
    url         VARCHAR(1024) NOT NULL DEFAULT '',
    useVideo    INT NOT NULL DEFAULT 0,
    vFormat     VARCHAR(32)   NOT NULL DEFAULT '',
    vColor      VARCHAR(32)   NOT NULL DEFAULT '',
    width       INT NOT NULL DEFAULT 0,
    height      INT NOT NULL DEFAULT 0,
    frameRate   INT NOT NULL DEFAULT 0,
    gop         INT NOT NULL DEFAULT 0,
    vBitRate    INT NOT NULL DEFAULT 0,
    useAudio    INT NOT NULL DEFAULT 0,
    aFormat     VARCHAR(32)   NOT NULL DEFAULT '',
    sampleRate  VARCHAR(32)   NOT NULL DEFAULT '',
    aBitRate    INT NOT NULL DEFAULT 0,
    aChannel    INT NOT NULL DEFAULT 0,
    status      INT NOT NULL DEFAULT 0,
    live_url    VARCHAR(1024) NOT NULL DEFAULT ''
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 AUTO_INCREMENT=300000001;

CREATE TABLE forward_task (
    id              INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
    forward_url     VARCHAR(1024) NOT NULL DEFAULT '',
    live_id         INT NOT NULL DEFAULT 0,
    buffer_enabled  INT NOT NULL DEFAULT 0,
    buffer_time     INT NOT NULL DEFAULT 0,
    buffer_type     INT NOT NULL DEFAULT 0,
    slice_seconds   INT NOT NULL DEFAULT 0,
    status          INT NOT NULL DEFAULT 0
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 AUTO_INCREMENT=400000001;

CREATE TABLE record_task (
    id            INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
    name          VARCHAR(255)  NOT NULL DEFAULT '',
    fileType      INT NOT NULL DEFAULT 0,
    recordType    INT NOT NULL DEFAULT 0,
    saveFolder    VARCHAR(1024) NOT NULL DEFAULT '',
    startTime     VARCHAR(16)   NOT NULL DEFAULT '',
    endTime       VARCHAR(16)   NOT NULL DEFAULT '',
    days_of_week  VARCHAR(32)   NOT NULL DEFAULT '',
    fileMod       INT NOT NULL DEFAULT 0,
    direMod       INT NOT NULL DEFAULT 0,
    live_id       INT NOT NULL DEFAULT 0,
    status        INT NOT NULL DEFAULT 0
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 AUTO_INCREMENT=500000001;

CREATE TABLE IXOPull (
    id             INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
    url            VARCHAR(1024) NOT NULL DEFAULT '',
    listenPort     INT NOT NULL DEFAULT 0,
    videoTransfer  INT NOT NULL DEFAULT 0,
    vFormat        VARCHAR(32)   NOT NULL DEFAULT '',
    vColor         VARCHAR(32)   NOT NULL DEFAULT '',
    width          INT NOT NULL DEFAULT 0,
    height         INT NOT NULL DEFAULT 0,
    frameRate      INT NOT NULL DEFAULT 0,
    gop            INT NOT NULL DEFAULT 0,
    vBitRate       INT NOT NULL DEFAULT 0,
    audioTransfer  INT NOT NULL DEFAULT 0,
    aFormat        VARCHAR(32)   NOT NULL DEFAULT '',
    sampleRate     VARCHAR(32)   NOT NULL DEFAULT '',
    aBitRate       INT NOT NULL DEFAULT 0,
    aChannel       INT NOT NULL DEFAULT 0
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 AUTO_INCREMENT=600000001;
