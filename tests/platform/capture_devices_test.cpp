#include <gtest/gtest.h>

#include "platform/CaptureDevices.h"
#include "tests/tools/FakeCaptureDevices.h"
#include "tests/tools/TestUtil.h"

using namespace vvplatform;
using vvtest::FakeVideoNode;

namespace {

FakeVideoNode Node(const std::string& path, const std::string& card, uint32_t caps = V4L2_CAP_VIDEO_CAPTURE) {
  FakeVideoNode n;
  n.path = path;
  n.card = card;
  n.caps = caps | V4L2_CAP_STREAMING;
  return n;
}

}  // namespace

// Capture nodes only, named by card, a second identical card numbered, and
// every node opened is closed again.
TEST(CaptureDevicesTest, VideoNodesAreCaptureNodesNamedByCard) {
  vvtest::FakeV4l2Io io;
  io.nodes = {Node("/dev/video0", "HD Webcam C615"),
              Node("/dev/video1", "HD Webcam C615", V4L2_CAP_META_CAPTURE),
              Node("/dev/video2", "vivid output", V4L2_CAP_VIDEO_OUTPUT),
              Node("/dev/video3", "HD Webcam C615"),
              Node("/dev/video4", "Broken"),
              Node("/dev/video10", "USB2.0 Camera ")};
  io.nodes[4].openFails = true;
  std::vector<VideoCaptureDevice> list = ListVideoCaptureDevices(io);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, "HD Webcam C615");
  EXPECT_EQ(list[0].path, "/dev/video0");
  EXPECT_EQ(list[1].name, "HD Webcam C615 #2");
  EXPECT_EQ(list[1].path, "/dev/video3");
  EXPECT_EQ(list[2].name, "USB2.0 Camera");
  EXPECT_TRUE(io.openFds.empty());

  EXPECT_EQ(FindVideoCaptureNode(io, "HD Webcam C615"), "/dev/video0");
  EXPECT_EQ(FindVideoCaptureNode(io, "HD Webcam C615 #2"), "/dev/video3");
  EXPECT_EQ(FindVideoCaptureNode(io, "USB2.0 Camera"), "/dev/video10");
  EXPECT_EQ(FindVideoCaptureNode(io, "vivid output"), "");
  EXPECT_EQ(FindVideoCaptureNode(io, "Broken"), "");
}

// Discrete sizes of every format once, in the driver's order; a stepwise
// range gives its two ends.
TEST(CaptureDevicesTest, FrameSizes) {
  vvtest::FakeV4l2Io io;
  FakeVideoNode cam = Node("/dev/video0", "cam");
  FakeVideoNode::Format yuyv;
  yuyv.discrete = {{640, 480}, {1280, 720}, {0, 0}};
  FakeVideoNode::Format mjpg;
  mjpg.fourcc = V4L2_PIX_FMT_MJPEG;
  mjpg.discrete = {{1280, 720}, {1920, 1080}, {160, 120}};
  cam.formats = {yuyv, mjpg};
  FakeVideoNode range = Node("/dev/video1", "range");
  FakeVideoNode::Format step;
  step.stepwise = true;
  step.minW = 48;
  step.minH = 32;
  step.maxW = 4096;
  step.maxH = 2160;
  range.formats = {step};
  io.nodes = {cam, range};
  EXPECT_EQ(ListVideoCaptureSizes(io, "/dev/video0"),
            (std::vector<std::string>{"640x480", "1280x720", "1920x1080", "160x120"}));
  EXPECT_EQ(ListVideoCaptureSizes(io, "/dev/video1"), (std::vector<std::string>{"48x32", "4096x2160"}));
  EXPECT_TRUE(ListVideoCaptureSizes(io, "/dev/video9").empty());
  EXPECT_TRUE(io.openFds.empty());
}

// Capture cards by the name of the cards file, numbered when alike; the
// engine's lookup turns each listed name (or a card id) into its hw device.
TEST(CaptureDevicesTest, AlsaCaptureCards) {
  vvtest::TempDir root("vvasound");
  vvtest::WriteAsound(root.path(), {{0, "PCH", "HDA Intel PCH", true},
                                    {1, "C920", "HD Pro Webcam C920", true},
                                    {2, "HDMI", "HDA ATI HDMI", false},
                                    {3, "C920_1", "HD Pro Webcam C920", true}});
  std::vector<AudioCaptureCard> cards = ListAudioCaptureCards(root.path());
  ASSERT_EQ(cards.size(), 3u);
  EXPECT_EQ(cards[0].name, "HDA Intel PCH");
  EXPECT_EQ(cards[1].name, "HD Pro Webcam C920");
  EXPECT_EQ(cards[2].name, "HD Pro Webcam C920 #2");
  EXPECT_EQ(cards[2].index, 3);
  EXPECT_EQ(FindAlsaCaptureDevice(root.path(), "HDA Intel PCH"), "hw:0");
  EXPECT_EQ(FindAlsaCaptureDevice(root.path(), "HD Pro Webcam C920"), "hw:1");
  EXPECT_EQ(FindAlsaCaptureDevice(root.path(), "HD Pro Webcam C920 #2"), "hw:3");
  EXPECT_EQ(FindAlsaCaptureDevice(root.path(), "PCH"), "hw:0");
  EXPECT_EQ(FindAlsaCaptureDevice(root.path(), "HDA ATI HDMI"), "");
  EXPECT_TRUE(ListAudioCaptureCards(root.file("missing")).empty());
}

// Without sound hardware alsa-lib's mixer of a card that does not exist
// cannot be opened.
TEST(CaptureDevicesTest, SystemMixerOfMissingCardFails) {
  std::vector<MixerElement> elements;
  EXPECT_FALSE(SystemAlsaMixerIo().ListElements(31, elements));
  EXPECT_TRUE(elements.empty());
}
