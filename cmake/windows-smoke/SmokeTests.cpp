// A few GoogleTest cases on JUCE's portable parts and the image libraries: the Windows build
// links GoogleTest, runs it under Wine, and the cross-built zlib, libpng and libjpeg work.
#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

TEST (WindowsSmoke, StandardThreadsWork)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::thread worker (
        [&]
        {
            const std::lock_guard<std::mutex> lock (mutex);
            done = true;
            changed.notify_one();
        });
    std::unique_lock<std::mutex> lock (mutex);
    changed.wait (lock, [&] { return done; });
    lock.unlock();
    worker.join();
    EXPECT_TRUE (done);
}

TEST (WindowsSmoke, GzipRoundTrip)
{
    juce::MemoryOutputStream packed;
    {
        juce::GZIPCompressorOutputStream gz (packed, 9);
        gz.writeString ("link manager link manager link manager");
    }
    juce::MemoryInputStream in (packed.getData(), packed.getDataSize(), false);
    juce::GZIPDecompressorInputStream unpacked (in);
    EXPECT_EQ (unpacked.readString(), "link manager link manager link manager");
}

// Encodes a small image and decodes it again with each of the two cross-built image codecs.
class ImageRoundTrip : public ::testing::TestWithParam<const char*>
{
};

TEST_P (ImageRoundTrip, KeepsSizeAndColour)
{
    juce::Image image (juce::Image::RGB, 8, 4, true);
    image.clear (image.getBounds(), juce::Colours::red);

    std::unique_ptr<juce::ImageFileFormat> format;
    if (juce::String (GetParam()) == "png")
        format = std::make_unique<juce::PNGImageFormat>();
    else
        format = std::make_unique<juce::JPEGImageFormat>();

    juce::MemoryOutputStream out;
    ASSERT_TRUE (format->writeImageToStream (image, out));
    juce::MemoryInputStream in (out.getData(), out.getDataSize(), false);
    const auto decoded = format->decodeImage (in);
    ASSERT_TRUE (decoded.isValid());
    EXPECT_EQ (decoded.getWidth(), 8);
    EXPECT_EQ (decoded.getHeight(), 4);
    const auto pixel = decoded.getPixelAt (3, 2);
    EXPECT_GT (pixel.getRed(), 240);
    EXPECT_LT (pixel.getGreen(), 16);
}

INSTANTIATE_TEST_SUITE_P (Codecs, ImageRoundTrip, ::testing::Values ("png", "jpeg"));
