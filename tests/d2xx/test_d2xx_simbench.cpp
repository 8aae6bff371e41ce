// The simulated bench: devices over a directory (appearing, disappearing,
// name order, latched serials, atomic rewrites), unplugged devices, the
// factory image, and use from two threads at once.
#include "d2xx/ft232r_image.h"
#include "d2xx/simbench.h"
#include "records.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <fstream>
#include <thread>

#include <sys/stat.h>

using namespace kestrova::d2xx;

namespace {

void writeFile(const QString &path, const Image &bytes)
{
    std::ofstream file(path.toStdString(), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

Image readFile(const QString &path)
{
    std::ifstream file(path.toStdString(), std::ios::binary);
    return Image(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

ino_t inodeOf(const QString &path)
{
    struct stat status {};
    return ::stat(path.toLocal8Bit().constData(), &status) == 0 ? status.st_ino : 0;
}

QStringList serialsOf(const SimBench &bench)
{
    QStringList serials;
    for (const std::string &serial : bench.listedSerials())
        serials << QString::fromStdString(serial);
    return serials;
}

std::unique_ptr<Device> openAt(SimBench &bench, DWORD index)
{
    DWORD count = 0;
    std::unique_ptr<Device> device;
    if (bench.countDevices(count) != FT_OK || bench.open(index, device) != FT_OK)
        qFatal("the bench did not open device %u", unsigned(index));
    return device;
}

} // namespace

class TestSimBench : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        directory = std::make_unique<QTemporaryDir>();
        QVERIFY(directory->isValid());
    }

    void directoryListsEepromFilesInNameOrder()
    {
        writeFile(pathOf("b.eeprom"), freshImage("SER-B"));
        writeFile(pathOf("a.eeprom"), freshImage("SER-A"));
        writeFile(pathOf("c.eeprom.bak"), freshImage("NOT-1"));
        writeFile(pathOf("notes.txt"), freshImage("NOT-2"));
        writeFile(pathOf(".a.eeprom.Xy12Zq.tmp"), freshImage("NOT-3"));
        QVERIFY(QDir(directory->path()).mkdir("d.eeprom"));
        SimBench bench(directory->path().toStdString());

        DWORD count = 0;
        QCOMPARE(bench.countDevices(count), FT_STATUS(FT_OK));
        QCOMPARE(count, DWORD(2));
        std::string serial;
        QCOMPARE(bench.serialNumber(0, serial), FT_STATUS(FT_OK));
        QCOMPARE(bytesOf(serial), QByteArray("SER-A"));
        QCOMPARE(bench.serialNumber(1, serial), FT_STATUS(FT_OK));
        QCOMPARE(bytesOf(serial), QByteArray("SER-B"));
        QCOMPARE(bench.serialNumber(2, serial), FT_STATUS(FT_DEVICE_NOT_FOUND));
    }

    void directoryFollowsFilesComingAndGoing()
    {
        SimBench bench(directory->path().toStdString());
        QCOMPARE(serialsOf(bench), QStringList());
        writeFile(pathOf("x.eeprom"), freshImage("X1"));
        QCOMPARE(serialsOf(bench), QStringList({"X1"}));
        writeFile(pathOf("w.eeprom"), freshImage("W1"));
        QCOMPARE(serialsOf(bench), QStringList({"W1", "X1"}));
        QVERIFY(QFile::remove(pathOf("x.eeprom")));
        QCOMPARE(serialsOf(bench), QStringList({"W1"}));
    }

    // Positions refer to the last count, as on a USB bus: a file that appears
    // between the count and the queries shows only at the next count.
    void positionsHoldUntilTheNextCount()
    {
        writeFile(pathOf("b.eeprom"), freshImage("SER-B"));
        SimBench bench(directory->path().toStdString());
        DWORD count = 0;
        QCOMPARE(bench.countDevices(count), FT_STATUS(FT_OK));
        QCOMPARE(count, DWORD(1));

        writeFile(pathOf("a.eeprom"), freshImage("SER-A"));
        std::string serial;
        QCOMPARE(bench.serialNumber(0, serial), FT_STATUS(FT_OK));
        QCOMPARE(bytesOf(serial), QByteArray("SER-B"));
        QCOMPARE(bench.serialNumber(1, serial), FT_STATUS(FT_DEVICE_NOT_FOUND));

        QCOMPARE(bench.countDevices(count), FT_STATUS(FT_OK));
        QCOMPARE(count, DWORD(2));
        QCOMPARE(bench.serialNumber(0, serial), FT_STATUS(FT_OK));
        QCOMPARE(bytesOf(serial), QByteArray("SER-A"));
    }

    void missingDirectoryHasNoDevices()
    {
        SimBench bench(pathOf("absent").toStdString());
        DWORD count = 7;
        QCOMPARE(bench.countDevices(count), FT_STATUS(FT_OK));
        QCOMPARE(count, DWORD(0));
    }

    void serialStaysLatchedUntilTheFileIsRemoved()
    {
        writeFile(pathOf("a.eeprom"), freshImage("OLD"));
        SimBench bench(directory->path().toStdString());
        QCOMPARE(serialsOf(bench), QStringList({"OLD"}));

        writeFile(pathOf("a.eeprom"), freshImage("EDITED"));
        QCOMPARE(serialsOf(bench), QStringList({"OLD"}));
        std::unique_ptr<Device> device = openAt(bench, 0);
        QCOMPARE(device->writeImage(freshImage("PROGRAMMED")), FT_STATUS(FT_OK));
        bench.close(std::move(device));
        QCOMPARE(serialsOf(bench), QStringList({"OLD"}));
        QCOMPARE(bytesOf(serialOf(readFile(pathOf("a.eeprom")))), QByteArray("PROGRAMMED"));

        // Unplugged and plugged in again: now it shows what it carries.
        QVERIFY(QFile::rename(pathOf("a.eeprom"), pathOf("a.away")));
        QCOMPARE(serialsOf(bench), QStringList());
        QVERIFY(QFile::rename(pathOf("a.away"), pathOf("a.eeprom")));
        QCOMPARE(serialsOf(bench), QStringList({"PROGRAMMED"}));
    }

    void programmingReplacesTheFileAtomically()
    {
        const Image first = freshImage("FIRST");
        const Image second = freshImage("SECOND");
        writeFile(pathOf("a.eeprom"), first);
        SimBench bench(directory->path().toStdString());
        std::unique_ptr<Device> device = openAt(bench, 0);
        const ino_t before = inodeOf(pathOf("a.eeprom"));
        QCOMPARE(device->writeImage(second), FT_STATUS(FT_OK));
        QVERIFY(inodeOf(pathOf("a.eeprom")) != before); // renamed over, not rewritten in place

        // A reader that must only ever see one whole image or the other.
        std::atomic<bool> writing{true};
        std::atomic<int> mixedReads{0};
        std::thread reader([&] {
            while (writing) {
                const Image seen = readFile(pathOf("a.eeprom"));
                if (seen != first && seen != second)
                    ++mixedReads;
            }
        });
        for (int round = 0; round < 200; ++round)
            QCOMPARE(device->writeImage(round % 2 ? first : second), FT_STATUS(FT_OK));
        writing = false;
        reader.join();
        bench.close(std::move(device));

        QCOMPARE(mixedReads.load(), 0);
        QCOMPARE(readFile(pathOf("a.eeprom")), first);
        QCOMPARE(QDir(directory->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"a.eeprom"})); // no temporary file left behind
    }

    void unpluggedDeviceAnswersNotFound()
    {
        SimBench bench;
        bench.attach("a", freshImage("A1"));
        std::unique_ptr<Device> device = openAt(bench, 0);
        bench.detach("a");
        Image image;
        QCOMPARE(device->readImage(image), FT_STATUS(FT_DEVICE_NOT_FOUND));

        // Another device under the same name is not the one that was opened.
        bench.attach("a", freshImage("A2"));
        QCOMPARE(device->readImage(image), FT_STATUS(FT_DEVICE_NOT_FOUND));
        QCOMPARE(device->writeImage(freshImage("A3")), FT_STATUS(FT_DEVICE_NOT_FOUND));
        QCOMPARE(bytesOf(serialOf(bench.image("a"))), QByteArray("A2"));
        bench.close(std::move(device));
        QCOMPARE(bench.openDevices(), 0);
    }

    void unpluggedFileIsNotWrittenBack()
    {
        writeFile(pathOf("a.eeprom"), freshImage("A1"));
        SimBench bench(directory->path().toStdString());
        std::unique_ptr<Device> device = openAt(bench, 0);
        QVERIFY(QFile::remove(pathOf("a.eeprom")));
        QCOMPARE(device->writeImage(freshImage("A2")), FT_STATUS(FT_DEVICE_NOT_FOUND));
        QVERIFY(!QFile::exists(pathOf("a.eeprom")));
        bench.close(std::move(device));
    }

    void attachAndDetachOverADirectoryAreFiles()
    {
        SimBench bench(directory->path().toStdString());
        bench.attach("k.eeprom", freshImage("K1"));
        QCOMPARE(bytesOf(serialOf(readFile(pathOf("k.eeprom")))), QByteArray("K1"));
        QCOMPARE(serialsOf(bench), QStringList({"K1"}));
        bench.detach("k.eeprom");
        QVERIFY(!QFile::exists(pathOf("k.eeprom")));
        QCOMPARE(serialsOf(bench), QStringList());
    }

    void freshImageIsAFactoryFreshFT232R()
    {
        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        QCOMPARE(decodeImage(freshImage("FT12AB34"), read), FT_STATUS(FT_OK));
        QCOMPARE(read.VendorId, WORD(0x0403));
        QCOMPARE(read.ProductId, WORD(0x6001));
        QCOMPARE(bytesOf(buffers.text(ReadBuffers::Manufacturer)), QByteArray("Bench"));
        QCOMPARE(bytesOf(buffers.text(ReadBuffers::Description)), QByteArray("FT232R USB UART"));
        QCOMPARE(bytesOf(buffers.text(ReadBuffers::Serial)), QByteArray("FT12AB34"));
        QCOMPARE(read.MaxPower, WORD(90));
        QCOMPARE(read.SelfPowered, WORD(0));
        QCOMPARE(read.SerNumEnableR, UCHAR(1));
        QCOMPARE(read.PnP, WORD(1));
        QCOMPARE(read.RIsD2XX, UCHAR(0));
        QCOMPARE(QList<int>({read.Cbus0, read.Cbus1, read.Cbus2, read.Cbus3, read.Cbus4}),
                 QList<int>({3, 2, 0, 1, 5}));
        QVERIFY(freshImage(std::string(27, 'S')).empty());
    }

    // Meant for the thread sanitizer: a watcher-like thread enumerates while
    // this one plugs, unplugs, reads and programs.
    void twoThreadsShareTheBench_data()
    {
        QTest::addColumn<bool>("overDirectory");
        QTest::newRow("in memory") << false;
        QTest::newRow("over a directory") << true;
    }
    void twoThreadsShareTheBench()
    {
        QFETCH(bool, overDirectory);
        auto owned = overDirectory ? std::make_unique<SimBench>(directory->path().toStdString())
                                   : std::make_unique<SimBench>();
        SimBench &bench = *owned;
        bench.attach("a.eeprom", freshImage("A1"));

        std::atomic<bool> running{true};
        std::thread watcher([&] {
            while (running) {
                DWORD count = 0;
                std::string serial;
                if (bench.countDevices(count) == FT_OK) {
                    for (DWORD index = 0; index < count; ++index)
                        bench.serialNumber(index, serial);
                }
            }
        });
        for (int round = 0; round < 100; ++round) {
            bench.attach("b.eeprom", freshImage("B1"));
            std::unique_ptr<Device> device;
            QCOMPARE(bench.open(0, device), FT_STATUS(FT_OK));
            Image image;
            QCOMPARE(device->readImage(image), FT_STATUS(FT_OK));
            QCOMPARE(device->writeImage(image), FT_STATUS(FT_OK));
            bench.close(std::move(device));
            bench.detach("b.eeprom");
        }
        running = false;
        watcher.join();
        QCOMPARE(serialsOf(bench), QStringList({"A1"}));
        QCOMPARE(bench.openDevices(), 0);
    }

private:
    QString pathOf(const QString &name) const { return directory->filePath(name); }

    std::unique_ptr<QTemporaryDir> directory; // a fresh one for each test
};

QTEST_GUILESS_MAIN(TestSimBench)
#include "test_d2xx_simbench.moc"
