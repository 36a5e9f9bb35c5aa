// cvLoadImage over cv::imread.
#include "LoadImage.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct LoadImage : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        char templ[] = "/tmp/loadimage_test_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string path(const std::string& name) const { return (dir / name).string(); }
};

// The IplImage's pixels equal the Mat's.
void expectSame(const IplImage* image, const cv::Mat& expected) {
    ASSERT_NE(image, nullptr);
    const cv::Mat view = cv::cvarrToMat(image);
    ASSERT_EQ(view.size(), expected.size());
    ASSERT_EQ(view.type(), expected.type());
    EXPECT_EQ(cv::norm(view, expected, cv::NORM_INF), 0.0);
}

}  // namespace

TEST_F(LoadImage, GreyFlagGivesOneChannelEightBitCopy) {
    cv::Mat colour(37, 53, CV_8UC3);
    cv::randu(colour, 0, 256);
    ASSERT_TRUE(cv::imwrite(path("c.png"), colour));
    IplImage* grey = cvLoadImage(path("c.png").c_str(), CV_LOAD_IMAGE_GRAYSCALE);
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(grey->width, 53);
    EXPECT_EQ(grey->height, 37);
    EXPECT_EQ(grey->depth, IPL_DEPTH_8U);
    EXPECT_EQ(grey->nChannels, 1);
    expectSame(grey, cv::imread(path("c.png"), cv::IMREAD_GRAYSCALE));
    cvReleaseImage(&grey);
    EXPECT_EQ(grey, nullptr);

    IplImage* bgr = cvLoadImage(path("c.png").c_str());
    ASSERT_NE(bgr, nullptr);
    EXPECT_EQ(bgr->nChannels, 3);
    expectSame(bgr, colour);
    cvReleaseImage(&bgr);
}

TEST_F(LoadImage, UnchangedKeepsSixteenBits) {
    cv::Mat deep(20, 30, CV_16UC1);
    cv::randu(deep, 0, 65536);
    ASSERT_TRUE(cv::imwrite(path("d.png"), deep));
    IplImage* image = cvLoadImage(path("d.png").c_str(), CV_LOAD_IMAGE_UNCHANGED);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, static_cast<int>(IPL_DEPTH_16U));
    expectSame(image, deep);
    cvReleaseImage(&image);
}

TEST_F(LoadImage, NullForWhatCannotBeRead) {
    EXPECT_EQ(cvLoadImage(nullptr, CV_LOAD_IMAGE_GRAYSCALE), nullptr);
    EXPECT_EQ(cvLoadImage(path("missing.png").c_str(), CV_LOAD_IMAGE_GRAYSCALE), nullptr);
    EXPECT_EQ(cvLoadImage(dir.string().c_str(), CV_LOAD_IMAGE_GRAYSCALE), nullptr);
    std::ofstream(path("junk.png")) << "not an image";
    EXPECT_EQ(cvLoadImage(path("junk.png").c_str(), CV_LOAD_IMAGE_GRAYSCALE), nullptr);
    std::ofstream(path("empty.bmp")).close();
    EXPECT_EQ(cvLoadImage(path("empty.bmp").c_str(), CV_LOAD_IMAGE_GRAYSCALE), nullptr);
}

TEST_F(LoadImage, FailureKindTellsUnreadableFromLoaded) {
    ASSERT_TRUE(cv::imwrite(path("g.png"), cv::Mat(9, 7, CV_8U, cv::Scalar(3))));
    std::ofstream(path("junk.png")) << "not an image";
    LoadFailure why;
    why.kind = LoadFailure::outOfMemory;
    IplImage* image = loadImage(path("g.png").c_str(), CV_LOAD_IMAGE_GRAYSCALE, &why);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(why.kind, LoadFailure::none);
    cvReleaseImage(&image);
    for (const std::string& bad : {path("junk.png"), path("missing.png"), dir.string()}) {
        EXPECT_EQ(loadImage(bad.c_str(), CV_LOAD_IMAGE_GRAYSCALE, &why), nullptr);
        EXPECT_EQ(why.kind, LoadFailure::unreadable) << bad;
    }
    // The reason is optional.
    EXPECT_EQ(loadImage(path("junk.png").c_str(), CV_LOAD_IMAGE_GRAYSCALE, nullptr), nullptr);
}
