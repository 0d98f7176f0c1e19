// The one checked way to write a file: whole files replaced only when complete, streams that
// stop at the first failed write and say how far they got, targets that are no regular file
// refused.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>

#include "base/files/checked_file.h"
#include "tests/support/file_faults.h"

namespace {

class CheckedFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString path(const char* name) const { return dir_.filePath(QLatin1String(name)); }
  // Every file in the folder, hidden ones too: no temporary file may be left behind.
  QStringList files() const { return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System); }
  void write(const char* name, const QByteArray& bytes) {
    QFile f(path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }

  QTemporaryDir dir_;
};

const QByteArray Big(4096, 'x');

TEST_F(CheckedFileTest, WritesTheWholeFileAndKeepsAReplacedFilesPermissions) {
  QString reason;
  ASSERT_TRUE(WriteFileChecked(path("new.txt"), "first\n", &reason)) << reason.toStdString();
  EXPECT_EQ(FileBytes(path("new.txt")), "first\n");
  ::chmod(QFile::encodeName(path("new.txt")).constData(), 0640);
  ASSERT_TRUE(WriteFileChecked(path("new.txt"), Big, &reason)) << reason.toStdString();
  EXPECT_EQ(FileBytes(path("new.txt")), Big);
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path("new.txt")).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(files(), QStringList{"new.txt"});
  // An empty file is a file too.
  ASSERT_TRUE(WriteFileChecked(path("new.txt"), QByteArray(), &reason));
  EXPECT_EQ(QFileInfo(path("new.txt")).size(), 0);
}

TEST_F(CheckedFileTest, AFullDiskKeepsTheEarlierFileAndSaysWhy) {
  write("kept.txt", "the good backup\n");
  QString reason;
  bool ok = true;
  {
    FileSizeLimit limit(100);
    ok = WriteFileChecked(path("kept.txt"), Big, &reason);
  }
  EXPECT_FALSE(ok);
  EXPECT_EQ(reason, FileErrorText(EFBIG));
  EXPECT_EQ(reason, QStringLiteral("soubor by byl větší, než systém dovoluje"));
  EXPECT_EQ(FileBytes(path("kept.txt")), "the good backup\n");
  EXPECT_EQ(files(), QStringList{"kept.txt"});
}

TEST_F(CheckedFileTest, AFullTmpfsKeepsTheEarlierFile) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir("small"));
  const QString small = path("small");
  SmallTmpfs tmpfs(small, 64 << 10);
  if (!tmpfs.mounted()) GTEST_SKIP() << "mount -t tmpfs is not permitted here: " << std::strerror(errno);
  const QString kept = small + QStringLiteral("/kept.txt");
  ASSERT_TRUE(WriteFileChecked(kept, "the good backup\n"));
  // Filled up to the last block.
  QFile filler(small + QStringLiteral("/filler"));
  ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
  while (filler.write(QByteArray(4096, 'f')) == 4096) {
  }
  filler.close();
  QString reason;
  EXPECT_FALSE(WriteFileChecked(kept, QByteArray(16 << 10, 'n'), &reason));
  EXPECT_EQ(reason, QStringLiteral("na zařízení není volné místo"));
  EXPECT_EQ(FileBytes(kept), "the good backup\n");
  EXPECT_EQ(QDir(small).entryList(QDir::Files | QDir::Hidden), (QStringList{"filler", "kept.txt"}));
}

TEST_F(CheckedFileTest, NodesThatAreNoRegularFileAreRefusedAndSurvive) {
  const QString null = PrivateCharDevice(path("null"), "null"), full = PrivateCharDevice(path("full"), "full");
  if (null.isEmpty() || full.isEmpty()) GTEST_SKIP() << "no character device of the test's own";
  ASSERT_TRUE(MakeFifo(path("fifo")));
  ASSERT_TRUE(QDir(dir_.path()).mkdir("folder"));
  ASSERT_EQ(::symlink(QFile::encodeName(full).constData(), QFile::encodeName(path("to-device")).constData()), 0);
  const struct {
    QString path;
    mode_t type;
    const char* reason;
  } cases[] = {
      {null, S_IFCHR, "není obyčejný soubor, je to znakové zařízení"},
      {full, S_IFCHR, "není obyčejný soubor, je to znakové zařízení"},
      {path("fifo"), S_IFIFO, "není obyčejný soubor, je to roura (FIFO)"},
      {path("folder"), S_IFDIR, "není obyčejný soubor, je to složka"},
      {path("to-device"), S_IFLNK, "není obyčejný soubor, je to znakové zařízení"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.toStdString());
    EXPECT_EQ(RefusedFileTarget(c.path), QString::fromUtf8(c.reason));
    QString reason;
    EXPECT_FALSE(WriteFileChecked(c.path, "data\n", &reason));
    EXPECT_EQ(reason, QString::fromUtf8(c.reason));
    CheckedStream stream;  // must not block on the FIFO either
    EXPECT_FALSE(stream.openFile(c.path, CheckedStream::Start::Truncate));
    EXPECT_EQ(stream.failure(), QString::fromUtf8(c.reason));
    EXPECT_FALSE(stream.openFile(c.path, CheckedStream::Start::Append));
    EXPECT_EQ(NodeType(c.path), c.type);
  }
  EXPECT_EQ(NodeType(full), mode_t(S_IFCHR));
  const QStringList left = files();
  EXPECT_TRUE(left.contains("fifo") && left.contains("to-device")) << left.join(' ').toStdString();
  for (const QString& name : left) EXPECT_NE(NodeType(path(name.toUtf8().constData())), mode_t(S_IFREG)) << name.toStdString();
}

TEST_F(CheckedFileTest, ALinkToARegularFileIsFollowed) {
  write("target.txt", "old\n");
  ASSERT_EQ(::symlink("target.txt", QFile::encodeName(path("link.txt")).constData()), 0);
  EXPECT_TRUE(RefusedFileTarget(path("link.txt")).isEmpty());
  ASSERT_TRUE(WriteFileChecked(path("link.txt"), "new\n"));
  EXPECT_EQ(NodeType(path("link.txt")), mode_t(S_IFLNK));
  EXPECT_EQ(FileBytes(path("target.txt")), "new\n");
  // A link to nothing yet: the file it names is made.
  ASSERT_EQ(::symlink("later.txt", QFile::encodeName(path("dangling")).constData()), 0);
  ASSERT_TRUE(WriteFileChecked(path("dangling"), "made\n"));
  EXPECT_EQ(FileBytes(path("later.txt")), "made\n");
  EXPECT_EQ(NodeType(path("dangling")), mode_t(S_IFLNK));
  // A missing folder is the system's reason.
  QString reason;
  EXPECT_FALSE(WriteFileChecked(path("missing/file.txt"), "x", &reason));
  EXPECT_EQ(reason, FileErrorText(ENOENT));
}

TEST_F(CheckedFileTest, AStreamStopsAtTheFirstFailedWriteWithWholeLinesOnly) {
  CheckedStream stream;
  ASSERT_TRUE(stream.openFile(path("log.csv"), CheckedStream::Start::CreateNew));
  const QByteArray line = "2026-01-01T00:00:00.000+01:00,5,57600,1.250,V,ok\n";
  int lines = 0;
  {
    FileSizeLimit limit(line.size() * 3 + 10);
    while (stream.write(line) == line.size()) ++lines;
  }
  EXPECT_EQ(lines, 3);
  EXPECT_TRUE(stream.failed());
  EXPECT_EQ(stream.failureErrno(), EFBIG);
  EXPECT_EQ(stream.failure(), FileErrorText(EFBIG));
  EXPECT_EQ(stream.written(), line.size() * 3);
  // Stopped for good, even where the disk would take more now.
  EXPECT_EQ(stream.write(line), -1);
  stream.close();
  EXPECT_EQ(FileBytes(path("log.csv")), line.repeated(3));
  // A file that exists is not taken as a new one.
  CheckedStream again;
  EXPECT_FALSE(again.openFile(path("log.csv"), CheckedStream::Start::CreateNew));
  EXPECT_EQ(again.failure(), FileErrorText(EEXIST));
  ASSERT_TRUE(again.openFile(path("log.csv"), CheckedStream::Start::Append));
  EXPECT_EQ(again.write(line), line.size());
  again.close();
  EXPECT_EQ(FileBytes(path("log.csv")), line.repeated(4));
}

TEST_F(CheckedFileTest, AFullDeviceAClosedDescriptorAndAGoneReaderFailTheWrite) {
  NoSigpipe noSigpipe;
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  int gone[2];
  ASSERT_EQ(::pipe(gone), 0);
  ::close(gone[0]);
  const int closed = 987;  // high enough that nothing opened meanwhile takes it
  ASSERT_EQ(::fcntl(closed, F_GETFD), -1);
  const struct {
    int fd;
    int error;
    const char* text;
  } cases[] = {
      {full, ENOSPC, "na zařízení není volné místo"},
      {gone[1], EPIPE, "druhá strana roury nebo spojení už nečte"},
      {closed, EBADF, "výstup je zavřený nebo není otevřen pro zápis"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    CheckedStream stream;
    ASSERT_TRUE(stream.openDescriptor(c.fd, QStringLiteral("standardní výstup")));
    EXPECT_EQ(stream.write("data\n"), -1);
    EXPECT_EQ(stream.failureErrno(), c.error);
    EXPECT_EQ(stream.failure(), QString::fromUtf8(c.text));
    EXPECT_EQ(stream.written(), 0);
    EXPECT_FALSE(stream.delivered());
  }
  ::close(full);
  ::close(gone[1]);
}

TEST_F(CheckedFileTest, APipeIsDeliveredOnlyWhenTheReaderTookEverything) {
  NoSigpipe noSigpipe;
  const QByteArray text(3000, 'b');
  for (const bool readAll : {true, false}) {
    SCOPED_TRACE(readAll ? "reader takes all" : "reader stops after 10 bytes, as head -c10");
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    CheckedStream stream;
    ASSERT_TRUE(stream.openDescriptor(p[1], QStringLiteral("standardní výstup")));
    ASSERT_EQ(stream.write(text), text.size());
    char buffer[4096];
    const ssize_t n = ::read(p[0], buffer, readAll ? sizeof buffer : 10);
    EXPECT_EQ(n, readAll ? text.size() : 10);
    ::close(p[0]);
    EXPECT_EQ(stream.delivered(), readAll);
    if (!readAll) {
      EXPECT_EQ(stream.failureErrno(), EPIPE);
      EXPECT_EQ(stream.failure(), QStringLiteral("druhá strana roury nebo spojení už nečte (nepřečteno 2990 B)"));
    }
    ::close(p[1]);
  }
}

TEST(FileErrorText, CommonErrorsInCzechRareOnesFromTheSystem) {
  for (const int e : {ENOSPC, EDQUOT, EFBIG, EACCES, EPERM, EROFS, EIO, EPIPE, ENOENT, EISDIR, ENOTDIR, EBADF}) {
    const QString text = FileErrorText(e);
    EXPECT_FALSE(text.isEmpty()) << e;
    EXPECT_NE(text, QString::fromLocal8Bit(std::strerror(e))) << e;
  }
  EXPECT_EQ(FileErrorText(ENOSPC), QStringLiteral("na zařízení není volné místo"));
  EXPECT_EQ(FileErrorText(EROFS), QStringLiteral("systém souborů je jen pro čtení"));
  EXPECT_EQ(FileErrorText(ENOTSOCK), QString::fromLocal8Bit(std::strerror(ENOTSOCK)));
}

}  // namespace
