#pragma once
// CLiveSource is being written on the livesource branch; this placeholder
// only marks the file as taken.
