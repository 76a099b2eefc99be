// Photo names from the file-name expression, numbering, and saving, renaming and
// deleting photo files without overwriting or leaving the download folder.
#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>

#include "camera/camera_fixture.h"

using namespace velk;
using namespace velk::test_support;

namespace {

std::string compute(const char* expression, const char* camera = "Z TEST Camera",
                    const char* filetype = "JPG", int number = 0, int sequence = 7, int batch = 3,
                    const char* application = "Group1", const char* tag = "Custom1") {
    stringbuffer_t out;
    stringbuffer_initialise(out);
    camera_compute_filename(out, string_make(expression), string_make(application),
                            string_make(tag), string_make(camera), string_make(filetype), number,
                            sequence, batch);
    std::string result(out.view.text, out.view.length);
    stringbuffer_release(out);
    return result;
}

} // namespace

TEST(FilenameExpression, TokensExpandExactly) {
    struct Case {
        const char* name;
        const char* expression;
        const char* expected;
    } cases[] = {
        {"default", "FNK_[S]", "FNK_7.JPG"},
        {"padding", "[A]_Camera[N]_Photo[S4]", "Group1_Camera0_Photo0007.JPG"},
        {"subfolder per camera", "[C]/[B3]_[S]", "Z_TEST_Camera/003_7.JPG"},
        {"lower case letter", "[s3]", "007.JPG"},
        {"zero width", "[S0]", "7.JPG"},
        {"negative width", "[S-2]", "7.JPG"},
        {"octal width", "[S010]", "00000007.JPG"},
        {"hexadecimal width", "[S0x3]", "007.JPG"},
        {"unknown letter", "[X2]", "[X2].JPG"},
        {"unknown letter without width", "a[Q]b", "a[Q]b.JPG"},
        {"unclosed token", "A[S", "A[S.JPG"},
        {"lone bracket", "[", "[.JPG"},
        {"bracket before digit", "[7]", "[7].JPG"},
        {"text padding becomes underscores", "[C6]", "Cam___.JPG"},
        {"space in expression", "my photo [S]", "my_photo_7.JPG"},
        {"unique tag", "[U]-[U9]", "Custom1-Custom1__.JPG"},
        {"batch and number", "[B]_[N2]", "3_00.JPG"},
        {"huge negative width", "[S-99999999999999999999]", "7.JPG"},
        {"huge width is clamped", "[S999999999]", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const char* camera =
            strcmp(c.name, "text padding becomes underscores") == 0 ? "Cam" : "Z TEST Camera";
        std::string got = compute(c.expression, camera);
        if (c.expected != nullptr)
            EXPECT_EQ(got, c.expected);
        else
            EXPECT_EQ(got.size(), 255u + 4u); // 255 digits and ".JPG"
    }
}

TEST(FilenameExpression, DateTimeAndNoFiletype) {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char date[32];
    ::snprintf(date, sizeof(date), "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
               local.tm_mday);
    std::string got = compute("[D]_[T]", "Cam", "");
    EXPECT_EQ(got.substr(0, 8), date);
    EXPECT_EQ(got.size(), 8u + 1u + 6u); // no extension without a filetype
}

TEST(FilenameExpression, ValuesCannotMakeFoldersOrClimbOut) {
    EXPECT_EQ(compute("[C]_[S]", "../../etc/passwd"), ".._.._etc_passwd_7.JPG");
    EXPECT_EQ(compute("[A]/[S]", "c", "JPG", 0, 1, 1, "a\\b/c"), "a_b_c/1.JPG");
    EXPECT_EQ(compute("[S]", "c", "../JPG"), "7..._JPG");
}

TEST_F(CameraTest, NumberingAcrossAnAllCamerasShot) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("[N]_[B]_[S]").success);
    Device(1)->files_per_capture = 2; // RAW plus JPEG: two files, one batch
    Device(1)->camera.batchSize = 2;
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0), true).success);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0), true).success);
    EXPECT_EQ(Files(downloads),
              (std::vector<std::string>{"0_1_1.JPG", "0_2_5.JPG", "1_1_2.JPG", "1_1_3.CR2",
                                        "1_2_6.JPG", "1_2_7.CR2", "2_1_4.JPG", "2_2_8.JPG"}));
    EXPECT_EQ(processor->GetSequenceNum(), 9);
    EXPECT_EQ(processor->GetBatchNum(), 3);
}

TEST_F(CameraTest, ExistingFilesAreNeverOverwritten) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("FNK_[S]").success);
    std::filesystem::create_directories(downloads + "/FNK_2.JPG"); // a folder counts as taken
    std::ofstream(downloads + "/FNK_1.JPG") << "old bytes";
    std::ofstream(downloads + "/FNK_1_1.JPG") << "older bytes";
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    EXPECT_EQ(Read(downloads + "/FNK_1.JPG"), "old bytes");
    EXPECT_EQ(Read(downloads + "/FNK_1_1.JPG"), "older bytes");
    EXPECT_EQ(Read(downloads + "/FNK_1_2.JPG"), "image");
    EXPECT_EQ(Read(downloads + "/FNK_2_1.JPG"), "image");
    EXPECT_STREQ(processor->GetPhotos()[0]->photo.name.text, "FNK_1_2.JPG");
    EXPECT_EQ(std::string(processor->GetPhotos()[0]->photo.filename.text),
              downloads + "/FNK_1_2.JPG");
    // No temporary files are left behind.
    EXPECT_EQ(Files(downloads).size(), 4u);
}

TEST_F(CameraTest, SavingWithoutADownloadFolderFails) {
    DetectAndConnectAll();
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    const photo_t& photo = processor->GetPhotos()[0]->photo;
    EXPECT_FALSE(photo.downloaded);
    EXPECT_TRUE(log.Contains("ERROR] Failed to save photo: FNK_1.JPG"));
    EXPECT_NE(
        std::find(client.texts.begin(), client.texts.end(), "ERROR: Failed to download: FNK_1.JPG"),
        client.texts.end());
}

TEST_F(CameraTest, NamesNeverLeaveTheDownloadFolder) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("../../escape_[S]").success);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    EXPECT_FALSE(processor->GetPhotos()[0]->photo.downloaded);
    EXPECT_FALSE(std::filesystem::exists(root + "/../escape_1.JPG"));

    // A camera-supplied name with separators stays one file in the folder.
    ASSERT_TRUE(SetOptions("FNK_[S]", false).success);
    Device(0)->camera_name_for_photo = "../../outside.JPG";
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    EXPECT_STREQ(processor->GetPhotos()[1]->photo.name.text, ".._.._outside.JPG");
    EXPECT_TRUE(processor->GetPhotos()[1]->photo.downloaded);
    EXPECT_EQ(Files(downloads), (std::vector<std::string>{".._.._outside.JPG"}));

    // Renames that would leave the folder are refused and change nothing.
    for (const char* bad : {"", ".", "..", "../x.JPG", "a/../../x.JPG"}) {
        SCOPED_TRACE(bad);
        MessageEncoder* e = Begin(REQUEST_Rename);
        photoid_t id = 1;
        e->AddData(FIELD_PhotoId, &id, sizeof(id), 1);
        e->AddField(FIELD_PhotoName, bad);
        EXPECT_FALSE(Send(e).success);
        EXPECT_STREQ(processor->GetPhotos()[1]->photo.name.text, ".._.._outside.JPG");
    }
    EXPECT_EQ(Files(downloads), (std::vector<std::string>{".._.._outside.JPG"}));
}

TEST_F(CameraTest, RenameMovesTheFileWithoutReplacingAnother) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("FNK_[S]").success);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    std::ofstream(downloads + "/Taken.JPG") << "someone else's";
    auto rename = [&](const char* name) {
        MessageEncoder* e = Begin(REQUEST_Rename);
        photoid_t id = 0;
        e->AddData(FIELD_PhotoId, &id, sizeof(id), 1);
        e->AddField(FIELD_PhotoName, name);
        return Send(e);
    };
    TakeTexts();
    ASSERT_TRUE(rename("Taken.png").success); // the camera's filetype wins
    EXPECT_EQ(Read(downloads + "/Taken.JPG"), "someone else's");
    EXPECT_EQ(Read(downloads + "/Taken_1.JPG"), "image");
    EXPECT_FALSE(std::filesystem::exists(downloads + "/FNK_1.JPG"));
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{"Photo renamed to: Taken_1.JPG"}));

    // A name the validation pattern rejects leaves the photo as it was.
    MessageEncoder* e = Begin(REQUEST_SetOptions);
    e->AddField(FIELD_FilenameValidation, "^FNK_.*$");
    Send(e);
    EXPECT_FALSE(rename("Other").success);
    EXPECT_TRUE(processor->GetPhotos()[0]->photo.filenameValid);
    EXPECT_STREQ(processor->GetPhotos()[0]->photo.name.text, "Taken_1.JPG");
    EXPECT_TRUE(log.Contains("WARNING] Photo filename failed validation against: ^FNK_.*$"));
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{"ERROR: Failed to rename: Taken_1.JPG"}));
}

TEST_F(CameraTest, ValidationFailureBlocksDownloadUntilRenamed) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("IMG_[S]", true, "^FNK_[0-9]+\\.JPG$").success);
    TakeTexts();
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{
                  "Taking photo...", "ERROR: Photo filename failed validation: IMG_1.JPG",
                  "ERROR: Unable to download due to invalid filename: IMG_1.JPG"}));
    EXPECT_FALSE(processor->GetPhotos()[0]->photo.filenameValid);
    EXPECT_TRUE(Files(downloads).empty());

    MessageEncoder* e = Begin(REQUEST_Rename);
    photoid_t id = 0;
    e->AddData(FIELD_PhotoId, &id, sizeof(id), 1);
    e->AddField(FIELD_PhotoName, "FNK_1.JPG");
    ASSERT_TRUE(Send(e).success);
    ASSERT_TRUE(PhotoRequest(REQUEST_Download, 0).success);
    EXPECT_EQ(Files(downloads), (std::vector<std::string>{"FNK_1.JPG"}));

    // A pattern that does not compile is dropped with a warning.
    ASSERT_TRUE(SetOptions("IMG_[S]", true, "([unclosed").success);
    EXPECT_TRUE(log.Contains("WARNING] Failed to compile filename validation ("));
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    EXPECT_TRUE(processor->GetPhotos()[1]->photo.filenameValid);
}

TEST_F(CameraTest, ReshootReplacesTheFileOnlyOnceTheNewOneIsSaved) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("FNK_[S]").success);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    FakePhoto* photo = static_cast<FakePhoto*>(processor->GetPhotos()[0]);
    photo->bytes = "second capture";
    // Until the new capture is saved, the old file stays where it is.
    Device(0)->download_at_once = false;
    MessageEncoder* e = Begin(REQUEST_Reshoot);
    photoid_t id = 0;
    e->AddData(FIELD_PhotoId, &id, sizeof(id), 1);
    ASSERT_TRUE(Send(e).success);
    EXPECT_EQ(Read(downloads + "/FNK_1.JPG"), "image");
    EXPECT_FALSE(photo->photo.downloaded);
    ASSERT_TRUE(PhotoRequest(REQUEST_Download, 0).success);
    EXPECT_EQ(Files(downloads), (std::vector<std::string>{"FNK_1.JPG"}));
    EXPECT_EQ(Read(downloads + "/FNK_1.JPG"), "second capture");
    EXPECT_EQ(processor->GetPhotos().size(), 1u);
}

TEST_F(CameraTest, DeleteTwiceDeletesOnceAndDownloadOfDeletedFails) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("FNK_[S]").success);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    TakeTexts();
    ASSERT_TRUE(PhotoRequest(REQUEST_Delete, 0).success);
    std::ofstream(downloads + "/FNK_1.JPG") << "a new file by the user";
    ASSERT_TRUE(PhotoRequest(REQUEST_Delete, 0).success);
    EXPECT_EQ(Read(downloads + "/FNK_1.JPG"), "a new file by the user");
    EXPECT_FALSE(PhotoRequest(REQUEST_Download, 0).success);
    EXPECT_EQ(TakeTexts(), (std::vector<std::string>{"Deleted: FNK_1.JPG", "Deleted: FNK_1.JPG",
                                                     "Downloading content",
                                                     "ERROR: Failed to download: FNK_1.JPG"}));
}

TEST_F(CameraTest, ScanResetFiresOnceForAMissingFolder) {
    DetectAndConnectAll();
    MessageEncoder* e = Begin(REQUEST_SetOptions);
    e->AddField(FIELD_DownloadPath, (root + "/missing/never").c_str());
    e->AddField(FIELD_ScanSequenceNum, true);
    e->AddField(FIELD_SequenceNum, 40);
    e->AddField(FIELD_FilenameExpression, "[S]");
    e->AddField(FIELD_GenerateFilename, true);
    ASSERT_TRUE(Send(e).success);
    Device(0)->download_at_once = false; // the folder stays missing
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    EXPECT_STREQ(processor->GetPhotos()[0]->photo.name.text, "1.JPG");
    EXPECT_STREQ(processor->GetPhotos()[2]->photo.name.text, "3.JPG");
}

TEST_F(CameraTest, RollbackNeverGoesBelowOne) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("FNK_[S]", false).success);
    Device(0)->camera_name_for_photo = "camera.JPG"; // never numbered: sequence -1
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    TakeTexts();
    ASSERT_TRUE(PhotoRequest(REQUEST_Rollback, 0).success);
    EXPECT_EQ(processor->GetSequenceNum(), 1);
    EXPECT_EQ(processor->GetBatchNum(), 1);
    EXPECT_EQ(TakeTexts(),
              (std::vector<std::string>{"Rolling back photos...", "Rollback complete"}));
}

TEST_F(CameraTest, ReshootOfARolledBackPhotoLeavesTheNewerPhotosFile) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("FNK_[S]").success);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success); // A: FNK_1.JPG
    ASSERT_TRUE(PhotoRequest(REQUEST_Rollback, 0).success);       // A deleted, its file gone
    static_cast<FakePhoto*>(processor->GetPhotos()[0])->bytes = "A reshot";
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success); // B: FNK_1.JPG again
    MessageEncoder* e = Begin(REQUEST_Reshoot);
    photoid_t id = 0;
    e->AddData(FIELD_PhotoId, &id, sizeof(id), 1);
    ASSERT_TRUE(Send(e).success);
    EXPECT_EQ(Read(downloads + "/FNK_1.JPG"), "image");
    EXPECT_EQ(Files(downloads).size(), 2u);
}

TEST_F(CameraTest, DeletingAPhotoWhoseReshootIsNotSavedRemovesItsFile) {
    DetectAndConnectAll();
    ASSERT_TRUE(SetOptions("FNK_[S]").success);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    Device(0)->download_at_once = false;
    MessageEncoder* e = Begin(REQUEST_Reshoot);
    photoid_t id = 0;
    e->AddData(FIELD_PhotoId, &id, sizeof(id), 1);
    ASSERT_TRUE(Send(e).success);
    ASSERT_TRUE(PhotoRequest(REQUEST_Delete, 0).success);
    EXPECT_TRUE(Files(downloads).empty());
}

TEST_F(CameraTest, UnchangedOptionsDoNotRearmTheScanReset) {
    DetectAndConnectAll();
    std::filesystem::create_directories(downloads);
    auto options = [&] {
        MessageEncoder* e = Begin(REQUEST_SetOptions);
        e->AddField(FIELD_DownloadPath, downloads.c_str());
        e->AddField(FIELD_ScanSequenceNum, true);
        e->AddField(FIELD_FilenameExpression, "[S]");
        e->AddField(FIELD_GenerateFilename, true);
        return Send(e);
    };
    ASSERT_TRUE(options().success);
    Device(0)->download_at_once = false; // the folder stays empty
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    ASSERT_TRUE(options().success);
    ASSERT_TRUE(CameraRequest(REQUEST_TakePhoto, Id(0)).success);
    EXPECT_STREQ(processor->GetPhotos()[2]->photo.name.text, "3.JPG");
}
