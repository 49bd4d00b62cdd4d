#include "platform/Teacher.h"
#include "platform/UpLoadFileFilters.h"
#include "platform/WebUsersData.h"

#include <gtest/gtest.h>

namespace {

struct TypeCase {
    const char *extension;
    const char *type;
};

class UploadTypes : public testing::TestWithParam<TypeCase> {};

TEST_P(UploadTypes, ExtensionGivesItsType)
{
    const QString extension = QString::fromUtf8(GetParam().extension);
    EXPECT_EQ(TUpLoadFileFilters::MimeTypeOf(extension).toStdString(), GetParam().type);
    EXPECT_EQ(TWebUsersData::MimeTypeOf(extension).toStdString(), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UploadTypes,
    testing::Values(TypeCase{".jpg", "image/jpeg"}, TypeCase{".JPG", "image/jpeg"},
                    TypeCase{".png", "image/png"}, TypeCase{".gif", "image/gif"},
                    TypeCase{".Bmp", "application/x-bmp"}, TypeCase{".mp3", "audio/mp3"},
                    TypeCase{".wav", "audio/wav"}, TypeCase{".mp4", "video/mpeg4"},
                    TypeCase{".m4v", "video/mpeg4"}, TypeCase{".avi", "video/avi"},
                    TypeCase{".ppt", "application/x-ppt"}, TypeCase{".PPTX", "application/x-ppt"},
                    TypeCase{".doc", "application/x-doc"}, TypeCase{".docx", "application/x-doc"},
                    TypeCase{".pdf", "application/pdf"}, TypeCase{".txt", "text/plain"},
                    TypeCase{".xls", "application/x-xls"}, TypeCase{".xlsx", "application/x-xls"},
                    // Not in the table: the generic type.
                    TypeCase{".jpeg", "multipart/form-data"}, TypeCase{"jpg", "multipart/form-data"},
                    TypeCase{"", "multipart/form-data"}, TypeCase{".", "multipart/form-data"}));

struct AvatarCase {
    const char *photoUrl;
    const char *avatarFile;  // relative to LocalFolder
};

class AvatarPaths : public testing::TestWithParam<AvatarCase> {};

TEST_P(AvatarPaths, PhotoAddressGivesTheLocalFile)
{
    TTeacher teacher;
    teacher.LocalFolder = QStringLiteral("/app/res/");
    teacher.PhotoUrl = QString::fromUtf8(GetParam().photoUrl);
    EXPECT_EQ(teacher.AvatarPath().toStdString(), std::string("/app/res/") + GetParam().avatarFile);
    EXPECT_EQ(teacher.DefaultAvatarPath().toStdString(), "/app/res/teacher.png");
}

INSTANTIATE_TEST_SUITE_P(
    Table, AvatarPaths,
    testing::Values(
        AvatarCase{"http://host/x/y.jpg", "y.jpg"}, AvatarCase{"y.jpg", "y.jpg"},
        AvatarCase{"  http://host/photo/t001.png \t", "t001.png"},
        AvatarCase{"http://host/photo/张老师.png", "张老师.png"},
        AvatarCase{"", "teacher.png"}, AvatarCase{"   ", "teacher.png"},
        // Names the server must not be able to choose.
        AvatarCase{"http://host/photo/", "teacher.png"}, AvatarCase{"http://host/..", "teacher.png"},
        AvatarCase{"http://host/.", "teacher.png"}, AvatarCase{"..", "teacher.png"},
        AvatarCase{"http://host/a\\..\\..\\evil.png", "teacher.png"},
        AvatarCase{"http://host/a\nb.png", "teacher.png"},
        AvatarCase{"http://host/a.jpg?v=2/../../x", "a.jpg"},
        AvatarCase{"http://host/a.jpg#frag", "a.jpg"}, AvatarCase{"http://host/p?name=../../x.png", "p"},
        AvatarCase{"http://host/?x=1", "teacher.png"}));

TEST(AvatarPaths, OverlongNameFallsBackToTheDefault)
{
    TTeacher teacher;
    teacher.LocalFolder = QStringLiteral("/r/");
    teacher.PhotoUrl = QStringLiteral("http://h/") + QString(256, QLatin1Char('a'));
    EXPECT_EQ(teacher.AvatarPath().toStdString(), "/r/teacher.png");
    teacher.PhotoUrl = QStringLiteral("http://h/") + QString(255, QLatin1Char('a'));
    EXPECT_EQ(teacher.AvatarPath(), QStringLiteral("/r/") + QString(255, QLatin1Char('a')));
}

TEST(TeacherData, EverySignInOverwritesEveryMember)
{
    TTeacher teacher;
    TTeacherLoginResult success;
    success.Success = true;
    success.Status = 0;
    success.Msg = QStringLiteral("登录成功");
    success.JSessionId = QStringLiteral("S1");
    success.UserId = QStringLiteral("t001");
    success.UserName = QStringLiteral("张老师");
    success.Photo = QStringLiteral("http://h/photo/t001.jpg");
    teacher.TakeLoginResult(success, QStringLiteral("http://h"), QStringLiteral("/app/res/"));
    EXPECT_EQ(teacher.LoginStatus, 0);
    EXPECT_EQ(teacher.SessionId, QStringLiteral("S1"));
    EXPECT_EQ(teacher.UserId, QStringLiteral("t001"));
    EXPECT_EQ(teacher.DisplayName, QStringLiteral("张老师"));
    EXPECT_EQ(teacher.LastMessage, QStringLiteral("登录成功"));
    EXPECT_EQ(teacher.HomeUrl, QStringLiteral("http://h"));
    EXPECT_EQ(teacher.AvatarPath(), QStringLiteral("/app/res/t001.jpg"));

    TTeacherLoginResult failure;
    failure.Msg = QStringLiteral("网络异常");
    teacher.TakeLoginResult(failure, QStringLiteral("http://h"), QStringLiteral("/app/res/"));
    EXPECT_EQ(teacher.LoginStatus, -1);
    EXPECT_TRUE(teacher.SessionId.isEmpty());
    EXPECT_TRUE(teacher.UserId.isEmpty());
    EXPECT_TRUE(teacher.DisplayName.isEmpty());
    EXPECT_TRUE(teacher.PhotoUrl.isEmpty());
    EXPECT_EQ(teacher.LastMessage, QStringLiteral("网络异常"));
}

}  // namespace
