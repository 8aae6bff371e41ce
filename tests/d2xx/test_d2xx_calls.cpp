// The five D2XX-style calls over the simulated bench: the sequences the window
// runs, every injected failure reaching the caller, verification of what was
// programmed, bad arguments and handle misuse, and how the bus is chosen.
#include "d2xx/ft232r_image.h"
#include "d2xx/simbench.h"
#include "records.h"

#include <QTemporaryDir>
#include <QTest>

#include <fstream>

using namespace kestrova::d2xx;

Q_DECLARE_METATYPE(kestrova::d2xx::Call)

namespace {

FT_STATUS countDevices(DWORD &count)
{
    return FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
}

FT_STATUS serialAt(DWORD index, char *buffer)
{
    return FT_ListDevices(reinterpret_cast<PVOID>(std::uintptr_t(index)), buffer,
                          FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
}

// A bus with one device whose serial number is longer than any listing buffer.
class LongSerialBus : public Bus {
public:
    static inline const std::string serial = std::string(50, 'L') + std::string(50, 'X');
    FT_STATUS countDevices(DWORD &count) override
    {
        count = 1;
        return FT_OK;
    }
    FT_STATUS serialNumber(DWORD, std::string &text) override
    {
        text = serial;
        return FT_OK;
    }
    FT_STATUS open(DWORD, std::unique_ptr<Device> &) override { return FT_DEVICE_NOT_OPENED; }
};

void writeFile(const QString &path, const Image &bytes)
{
    std::ofstream file(path.toStdString(), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

QList<CallRecord> callsOf(const SimBench &bench)
{
    const std::vector<CallRecord> calls = bench.calls();
    return QList<CallRecord>(calls.begin(), calls.end());
}

bool calledAny(const SimBench &bench, Call call)
{
    for (const CallRecord &record : bench.calls()) {
        if (record.call == call)
            return true;
    }
    return false;
}

} // namespace

namespace QTest {
template <>
char *toString(const CallRecord &record)
{
    static const char *const names[] = {"Count", "SerialByIndex", "Open", "Read", "Program", "Close"};
    return qstrdup(QByteArray(names[int(record.call)]).append(' ').append(record.device.c_str()));
}
} // namespace QTest

class TestCalls : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        bench = std::make_shared<SimBench>();
        installBus(bench);
        bench->attach("dev", freshImage("SER-1"));
    }
    void cleanup() { installBus(nullptr); }

    void readRunsTheWindowsSequence()
    {
        DWORD count = 0;
        QCOMPARE(countDevices(count), FT_STATUS(FT_OK));
        QCOMPARE(count, DWORD(1));
        const FT_HANDLE handle = openFirst();
        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        QCOMPARE(FT_EE_Read(handle, &read), FT_STATUS(FT_OK));
        QCOMPARE(FT_Close(handle), FT_STATUS(FT_OK));

        compareReadBack(ProgramRecord{factoryRecord(), "Bench", "", "FT232R USB UART",
                                      "SER-1"},
                        read, buffers);
        QCOMPARE(callsOf(*bench), QList<CallRecord>({{Call::Count, ""},
                                                      {Call::Open, "dev"},
                                                      {Call::Read, "dev"},
                                                      {Call::Close, "dev"}}));
        QCOMPARE(bench->openDevices(), 0);
    }

    void programmedRecordReadsBack_data() { addRecordRows(); }
    void programmedRecordReadsBack()
    {
        QFETCH(ProgramRecord, record);
        const FT_HANDLE handle = openFirst();
        FT_PROGRAM_DATA data = record.record();
        QCOMPARE(FT_EE_Program(handle, &data), FT_STATUS(FT_OK));
        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        QCOMPARE(FT_EE_Read(handle, &read), FT_STATUS(FT_OK));
        FT_Close(handle);

        compareReadBack(record, read, buffers);
        QCOMPARE(bench->listedSerials(), std::vector<std::string>({"SER-1"})); // until replugged
    }

    void injectedFailureReachesTheCaller_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<FT_STATUS>("status");
        QTest::newRow("count") << Call::Count << FT_STATUS(FT_IO_ERROR);
        QTest::newRow("serial by index") << Call::SerialByIndex << FT_STATUS(FT_OTHER_ERROR);
        QTest::newRow("open") << Call::Open << FT_STATUS(FT_DEVICE_NOT_OPENED);
        QTest::newRow("read") << Call::Read << FT_STATUS(FT_EEPROM_READ_FAILED);
        QTest::newRow("program") << Call::Program << FT_STATUS(FT_EEPROM_WRITE_FAILED);
        QTest::newRow("close") << Call::Close << FT_STATUS(FT_IO_ERROR);
    }
    void injectedFailureReachesTheCaller()
    {
        QFETCH(Call, call);
        QFETCH(FT_STATUS, status);
        const Image before = bench->image("dev");
        bench->failNext(call, 2, status);
        QCOMPARE(runOnce(call), status);
        QCOMPARE(runOnce(call), status);
        QCOMPARE(bench->openDevices(), 0);
        QCOMPARE(bench->image("dev"), before);
        QCOMPARE(runOnce(call), FT_STATUS(FT_OK)); // the two failures are used up
    }

    void failingOpenOpensNothing()
    {
        bench->failNext(Call::Open, 1, FT_DEVICE_NOT_OPENED);
        FT_HANDLE handle = nullptr;
        QCOMPARE(FT_Open(0, &handle), FT_STATUS(FT_DEVICE_NOT_OPENED));
        QCOMPARE(callsOf(*bench), QList<CallRecord>({{Call::Open, ""}}));
        QCOMPARE(bench->openDevices(), 0);
    }

    void writeThatDoesNotReadBackIsReported()
    {
        bench->corruptWrites("dev", true);
        const FT_HANDLE handle = openFirst();
        ProgramRecord record;
        record.serial = "SER-2";
        FT_PROGRAM_DATA data = record.record();
        QCOMPARE(FT_EE_Program(handle, &data), FT_STATUS(FT_EEPROM_WRITE_FAILED));
        FT_Close(handle);
    }

    void refusedRecordTouchesNoDevice()
    {
        const Image before = bench->image("dev");
        const FT_HANDLE handle = openFirst();
        bench->clearCalls();
        ProgramRecord record;
        record.description = std::string(47, 'D');
        FT_PROGRAM_DATA data = record.record();
        QCOMPARE(FT_EE_Program(handle, &data), FT_STATUS(FT_INVALID_PARAMETER));
        FT_Close(handle);
        QCOMPARE(callsOf(*bench), QList<CallRecord>({{Call::Close, "dev"}}));
        QCOMPARE(bench->image("dev"), before);
    }

    void otherChipsAreNotSupported()
    {
        bench->detach("dev");
        bench->attach("ft2232", freshImage("DUAL"), false);
        const Image before = bench->image("ft2232");
        const FT_HANDLE handle = openFirst();
        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        QCOMPARE(FT_EE_Read(handle, &read), FT_STATUS(FT_NOT_SUPPORTED));
        QVERIFY(buffers.untouched());
        ProgramRecord record;
        FT_PROGRAM_DATA data = record.record();
        QCOMPARE(FT_EE_Program(handle, &data), FT_STATUS(FT_NOT_SUPPORTED));
        QCOMPARE(FT_Close(handle), FT_STATUS(FT_OK));
        QCOMPARE(bench->image("ft2232"), before);
    }

    void misusedHandlesAreRefused()
    {
        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        int notAHandle = 0;
        for (FT_HANDLE bad : {FT_HANDLE(nullptr), FT_HANDLE(&notAHandle)}) {
            QCOMPARE(FT_EE_Read(bad, &read), FT_STATUS(FT_INVALID_HANDLE));
            QCOMPARE(FT_EE_Program(bad, &read), FT_STATUS(FT_INVALID_HANDLE));
            QCOMPARE(FT_Close(bad), FT_STATUS(FT_INVALID_HANDLE));
        }

        const FT_HANDLE closed = openFirst();
        QCOMPARE(FT_Close(closed), FT_STATUS(FT_OK));
        QCOMPARE(FT_EE_Read(closed, &read), FT_STATUS(FT_INVALID_HANDLE));
        QCOMPARE(FT_EE_Program(closed, &read), FT_STATUS(FT_INVALID_HANDLE));
        QCOMPARE(FT_Close(closed), FT_STATUS(FT_INVALID_HANDLE));
        QVERIFY(buffers.untouched());
        QCOMPARE(bench->openDevices(), 0);
        QCOMPARE(callsOf(*bench), QList<CallRecord>({{Call::Open, "dev"}, {Call::Close, "dev"}}));
    }

    void badArgumentsAreRefused()
    {
        char serial[FT_SERIAL_BUFFER_SIZE];
        DWORD count = 0;
        QCOMPARE(FT_ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY),
                 FT_STATUS(FT_INVALID_PARAMETER));
        QCOMPARE(serialAt(0, nullptr), FT_STATUS(FT_INVALID_PARAMETER));
        for (DWORD flags : {0u, FT_LIST_BY_INDEX, FT_LIST_BY_INDEX | 2u, FT_LIST_NUMBER_ONLY | 1u,
                            0x20000000u /* list all */}) {
            QCOMPARE(FT_ListDevices(&count, serial, flags), FT_STATUS(FT_INVALID_PARAMETER));
        }
        QCOMPARE(FT_Open(0, nullptr), FT_STATUS(FT_INVALID_PARAMETER));
        QVERIFY(bench->calls().empty());

        const FT_HANDLE handle = openFirst();
        QCOMPARE(FT_EE_Read(handle, nullptr), FT_STATUS(FT_INVALID_PARAMETER));
        QCOMPARE(FT_EE_Program(handle, nullptr), FT_STATUS(FT_INVALID_PARAMETER));
        const std::initializer_list<void (*)(FT_PROGRAM_DATA &)> wrongHeaders = {
            [](FT_PROGRAM_DATA &data) { data.Signature1 = 1; },
            [](FT_PROGRAM_DATA &data) { data.Signature2 = 0; },
            [](FT_PROGRAM_DATA &data) { data.Version = 1; }};
        for (auto breakHeader : wrongHeaders) {
            ReadBuffers buffers;
            FT_PROGRAM_DATA read = buffers.record();
            breakHeader(read);
            QCOMPARE(FT_EE_Read(handle, &read), FT_STATUS(FT_INVALID_PARAMETER));
            QVERIFY(buffers.untouched());
            ProgramRecord record;
            FT_PROGRAM_DATA data = record.record();
            breakHeader(data);
            QCOMPARE(FT_EE_Program(handle, &data), FT_STATUS(FT_INVALID_PARAMETER));
        }
        FT_Close(handle);
        QVERIFY(!calledAny(*bench, Call::Read));
        QVERIFY(!calledAny(*bench, Call::Program));
    }

    void positionsPastTheListAreNotFound()
    {
        char serial[FT_SERIAL_BUFFER_SIZE];
        QCOMPARE(serialAt(1, serial), FT_STATUS(FT_DEVICE_NOT_FOUND));
        FT_HANDLE handle = nullptr;
        QCOMPARE(FT_Open(1, &handle), FT_STATUS(FT_DEVICE_NOT_FOUND));
        QCOMPARE(FT_Open(-1, &handle), FT_STATUS(FT_DEVICE_NOT_FOUND));
        QCOMPARE(bench->openDevices(), 0);
    }

    void longSerialIsCutToTheListingBuffer()
    {
        installBus(std::make_shared<LongSerialBus>());
        char buffer[FT_SERIAL_BUFFER_SIZE + 8];
        std::fill(std::begin(buffer), std::end(buffer), '#');
        QCOMPARE(serialAt(0, buffer), FT_STATUS(FT_OK));
        QCOMPARE(QByteArray(buffer), QByteArray::fromStdString(LongSerialBus::serial.substr(0, 63)));
        QVERIFY(std::all_of(buffer + FT_SERIAL_BUFFER_SIZE, std::end(buffer),
                            [](char byte) { return byte == '#'; }));
    }

    void handleKeepsTheBusItWasOpenedOn()
    {
        const FT_HANDLE handle = openFirst();
        installBus(std::make_shared<SimBench>());
        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        QCOMPARE(FT_EE_Read(handle, &read), FT_STATUS(FT_OK));
        QCOMPARE(FT_Close(handle), FT_STATUS(FT_OK));
        QCOMPARE(bench->openDevices(), 0);
    }

    void benchDirectoryThroughTheFiveCalls()
    {
        QTemporaryDir directory;
        writeFile(directory.filePath("a.eeprom"), freshImage("A-1"));
        writeFile(directory.filePath("b.eeprom"), Image(100, 0x11));
        auto overDirectory = std::make_shared<SimBench>(directory.path().toStdString());
        installBus(overDirectory);

        DWORD count = 0;
        QCOMPARE(countDevices(count), FT_STATUS(FT_OK));
        QCOMPARE(count, DWORD(2));
        char serial[FT_SERIAL_BUFFER_SIZE];
        QCOMPARE(serialAt(0, serial), FT_STATUS(FT_OK));
        QCOMPARE(QByteArray(serial), QByteArray("A-1"));
        QCOMPARE(serialAt(1, serial), FT_STATUS(FT_OK));
        QCOMPARE(QByteArray(serial), QByteArray()); // nothing to read a serial number from

        // The wrong-sized image cannot be read, but programming writes a whole new one.
        FT_HANDLE handle = nullptr;
        QCOMPARE(FT_Open(1, &handle), FT_STATUS(FT_OK));
        ReadBuffers buffers;
        FT_PROGRAM_DATA read = buffers.record();
        QCOMPARE(FT_EE_Read(handle, &read), FT_STATUS(FT_EEPROM_READ_FAILED));
        ProgramRecord record;
        record.serial = "B-2";
        FT_PROGRAM_DATA data = record.record();
        QCOMPARE(FT_EE_Program(handle, &data), FT_STATUS(FT_OK));
        QCOMPARE(FT_EE_Read(handle, &read), FT_STATUS(FT_OK));
        FT_Close(handle);
        compareReadBack(record, read, buffers);
        QCOMPARE(overDirectory->image("b.eeprom").size(), kImageSize);
        QCOMPARE(overDirectory->openDevices(), 0);
    }

    void kestrovaBenchChoosesTheDefaultBus()
    {
        QTemporaryDir directory;
        writeFile(directory.filePath("only.eeprom"), freshImage("FROM-ENV"));
        qputenv("KESTROVA_BENCH", directory.path().toLocal8Bit());
        installBus(nullptr);
        char serial[FT_SERIAL_BUFFER_SIZE];
        DWORD count = 0;
        QCOMPARE(countDevices(count), FT_STATUS(FT_OK));
        QCOMPARE(count, DWORD(1));
        QCOMPARE(serialAt(0, serial), FT_STATUS(FT_OK));
        QCOMPARE(QByteArray(serial), QByteArray("FROM-ENV"));

        for (const QByteArray &unset : {QByteArray(), QByteArray("")}) {
            unset.isNull() ? qunsetenv("KESTROVA_BENCH") : qputenv("KESTROVA_BENCH", unset);
            installBus(nullptr);
            QVERIFY(!dynamic_cast<SimBench *>(activeBus().get())); // the USB bus
        }
    }

private:
    FT_HANDLE openFirst()
    {
        FT_HANDLE handle = nullptr;
        if (FT_Open(0, &handle) != FT_OK)
            qFatal("device 0 did not open");
        return handle;
    }

    // Makes the five-call use that reaches the bench as `call`, opening and
    // closing around it as needed.
    FT_STATUS runOnce(Call call)
    {
        DWORD count = 0;
        char serial[FT_SERIAL_BUFFER_SIZE];
        switch (call) {
        case Call::Count:
            return countDevices(count);
        case Call::SerialByIndex:
            return serialAt(0, serial);
        case Call::Open: {
            FT_HANDLE handle = nullptr;
            const FT_STATUS status = FT_Open(0, &handle);
            if (status == FT_OK)
                FT_Close(handle);
            return status;
        }
        case Call::Read: {
            const FT_HANDLE handle = openFirst();
            ReadBuffers buffers;
            FT_PROGRAM_DATA read = buffers.record();
            const FT_STATUS status = FT_EE_Read(handle, &read);
            FT_Close(handle);
            return status;
        }
        case Call::Program: {
            const FT_HANDLE handle = openFirst();
            ProgramRecord record;
            record.serial = "SER-2";
            FT_PROGRAM_DATA data = record.record();
            const FT_STATUS status = FT_EE_Program(handle, &data);
            FT_Close(handle);
            if (status == FT_OK)
                bench->attach("dev", freshImage("SER-1")); // back to the starting image
            return status;
        }
        case Call::Close:
            return FT_Close(openFirst());
        }
        return FT_OTHER_ERROR;
    }

    std::shared_ptr<SimBench> bench;
};

QTEST_GUILESS_MAIN(TestCalls)
#include "test_d2xx_calls.moc"
