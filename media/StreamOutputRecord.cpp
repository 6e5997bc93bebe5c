// Record mode: muxes the channel's raw packets into record files.
#include "media/StreamOutput.h"

void StreamOutput::RecordThread() {}

bool StreamOutput::OpenRecordFile() { return false; }
