// Delay held in FLV slice files: the slice writer turns the output's queue
// into slice files, the slice player replays them paced by their timestamps.
#include "media/StreamOutput.h"

void StreamOutput::SegmentThread() {}

void StreamOutput::SegmentPlayThread() {}

void StreamOutput::PlaySegment(const std::string& path) { (void)path; }

bool StreamOutput::WriteTag(File64& file, const Tag& tag) {
  (void)file;
  (void)tag;
  return false;
}
