// The sensor object: one per tab. Link, framings, records, commands, parameters,
// measurement worker and firmware transfer. Implementation is split by concern:
//   vqs_link.cpp       port open/close/read/write (through SerialPortIo)
//   vqs_crc.cpp        CRC-16/CCITT
//   vqs_uart.cpp       UART framing and retransmission
//   vqs_usb.cpp        USB framing, acknowledgement and retransmission
//   vqs_tables.cpp     code tables and record conversions
//   vqs_params.cpp     parameter record <-> JSON
//   vqs_commands_*.cpp the command set and dispatchers
//   vqs_framing.cpp    each framing's form of the commands, chosen by transport
//   vqs_worker.cpp     measurement worker (start, cycle, stop, reconnect)
//   vqs_firmware.cpp   firmware transfer
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sample.h"
#include "vqs_crc.h"
#include "vqs_records.h"

struct cJSON;
class SerialPortIo;  // serialport.h: Qt-free port interface (POSIX and Win32 implementations)
class VQSFraming;    // vqs_framing.h: one framing's form of the commands

using VQSBuffer = std::unique_ptr<uint8_t[]>;

extern const char* const appVersion;  // "1.8.0.3"

// Code tables (texts exactly as the sensor's documentation names them).
const char* gasTableText(uint32_t id);          // null for an ID not in the table
const char* concUnitText(uint8_t code);         // "%LEL(ISO)", "%VOL", "%LEL(IEC)", "PPM"; null otherwise
const char* sensorTypeText(uint32_t type);      // "Unknown Sensor" for any other value
const char* statusCodeText(uint8_t code);       // sensor status code; null when not in the table
const char* replyStatusName(uint8_t code);      // UART reply status 0x00..0x20
void statusBitsToText(uint32_t bits, char* out);  // out: at least 502 bytes

// Parameter record <-> JSON document.
cJSON* paramsToJson(const kernelParams_t* params);
int jsonToParams(const cJSON* document, kernelParams_t* params);

class QThread;
class VQS;

// Ends a sensor object that lives on its own worker thread: stops its run
// (sensor idle, port closed) after whatever cycle is under way, ends the
// thread within waitMs and frees both. A thread that does not end in time
// frees them itself when it finally ends.
void shutDownSensorThread(VQS* sensor, QThread* thread, unsigned long waitMs);

class VQS : public QObject {
    Q_OBJECT

public:
    explicit VQS(QObject* parent = nullptr);
    ~VQS() override;

    // ---- link ----
    char sensorName[160];
    mutable char unnamedLogName[200] = {};  // logName()'s text while sensorName is empty
    int portNumber = -1;
    std::string portPath;  // when set, connect() opens this device path instead of COM<portNumber>
    int transport = 0;     // 0 USB framing, 1 UART framing
    uint8_t retryCount = 1;
    std::unique_ptr<SerialPortIo> portHandle;
    bool portOpen = false;
    VQSBuffer pendingRequest;
    uint16_t pendingRequestLength = 0;
    uint32_t txPackets = 0;
    uint32_t rxPackets = 0;
    uint32_t retransmissions = 0;
    uint64_t txBytes = 0;
    uint64_t rxBytes = 0;

    VQSStatus connect();
    VQSStatus disconnect();
    int serialWrite(uint8_t* data, uint32_t length);
    int serialRead(uint8_t* data, uint32_t length);
    void serialDiscardInput();  // drops unread input (late replies) before a new request

    // ---- UART framing ----
    char statusText[256];
    uartReplyHeader_t lastReplyHeader{};
    uint8_t uartRxArea[kUartRxAreaSize];

    int uartSend(uint16_t cmdId, uint8_t* payload, uint16_t length);
    int getUARTPacket(uint16_t cmdId, uint8_t* buffer, uint32_t bufferSize);
    int uartRecv(uint16_t cmdId, uint8_t* buffer, uint32_t bufferSize);
    void DumpReplyHdr(const uartReplyHeader_t* header);

    // ---- USB framing ----
    uint16_t usbSequence = 1;
    uint16_t lastUsbFlags = 0;
    uint16_t checksumErrors = 0;
    uint16_t versionErrors = 0;
    uint16_t truncationErrors = 0;

    int usbSend(uint16_t cmdId, uint8_t* payload, uint16_t length);
    VQSBuffer getPacket(uint16_t* length);
    VQSBuffer usbRecv(uint16_t cmdId, uint16_t* length, uint32_t waitSeconds);
    uint32_t receiveAck();

    // ---- identity, version and records ----
    char versionText[128];
    char firmwareVersionText[32];
    char hardwareVersionText[16];
    uint8_t firmwareVersion[4];
    uint8_t hardwareVersion[4];
    uint16_t firmwareNumber = 0;
    bool v3Answer = false;
    char mcuId[32];
    char sensorSku[32];
    sensorInfo_t sensorInfo{};
    char gasName[64];
    char postText[2048];
    bool postPassed = false;
    uint8_t enviro[40];
    uint8_t calibrationReply[140];
    kernelParams_t params{};
    char paramsJson[4096];
    float analogOut = 0.0f;
    // Unit code of the sensor's own configuration ("concUnit" of its parameter
    // document, read at USB identification); -1 when the sensor did not say.
    int configuredConcUnit = -1;
    bool useVolUnit = true;
    uint8_t concUnit = 0;
    answer_t answer{};

    // run counters: cycleCount counts the run's recorded cycles; the worker
    // counts them (takeSample()), others learn it from the Sample.
    uint32_t cycleCount = 0;
    int32_t sensorCycle = -1;
    int32_t lastSensorCycle = 0;
    int commFailed = 0;
    bool running = false;
    // Set from the GUI thread when the tab asks for a stop, so that an endless
    // sample poll ends within one poll instead of starving the queued stop.
    std::atomic<bool> stopRequested{false};

    void gasNameFromId(uint32_t id);

    // ---- identification (vqs_identity.cpp) ----
    // Forgets everything learnt from a sensor: name, versions, type, SKU,
    // records, readings and sample numbers. Link settings and statistics stay.
    void resetIdentity();
    // On an open port: resetIdentity(), then the version and name requests;
    // over USB also the parameter document, for the SKU and configured unit
    // (a sensor that does not answer it is identified without them). Fails
    // when the version or name request fails.
    VQSStatus identify();
    // What opens the object's log lines: `sensorName`, or while it is empty
    // (between resetIdentity() and the name's arrival) "(unnamed on <port>)",
    // so no line of an identification goes without its sensor.
    const char* logName() const;

    // ---- command set ----
    VQSStatus usbGetAnswer();
    VQSStatus getEnviro();
    VQSStatus usbSetState(VQSState state);
    VQSStatus usbClearHistory();
    VQSStatus usbGetVersion();
    VQSStatus usbReboot();
    VQSStatus usbGetParams();
    VQSStatus usbGetSensorName();
    VQSStatus uartGetVerboseAnswer();
    // Refuses a reply announcing more than 1020 bytes or more than destinationSize.
    VQSStatus uartGetEngData(uint8_t* destination, size_t destinationSize);
    // For the record chosen by v3Answer (84 or 100 bytes).
    VQSStatus uartGetEngData(uint8_t* destination);
    VQSStatus uartGetVersion();
    VQSStatus uartGetSensorInfo();
    VQSStatus uartReadFlash(uart_readflash_t request, uint8_t* destination);
    VQSStatus uartGetParams();
    VQSStatus uartCalibrate(cal_rqst_t request);
    VQSStatus uartSetState(VQSState state);
    VQSStatus uartClearHistory();
    VQSStatus uartReboot();
    VQSStatus uartGetAnalogOut();
    VQSStatus setParams();
    // Shared by both parameter reads: parse a received transfer record into params.
    VQSStatus storeParamsRecord(const uint8_t* record, size_t length);

    // dispatchers
    VQSStatus reboot();
    VQSStatus getVersion();
    VQSStatus getSensorName();
    VQSStatus getParams();
    VQSStatus clearHistory();
    VQSStatus setState(VQSState state);
    VQSStatus getAnswer();
    VQSStatus readFlash(uart_readflash_t request, uint8_t* destination);
    VQSStatus calibrate(cal_rqst_t request);
    VQSStatus getAnalogOut();
    VQSStatus runPost();

    // ---- measurement worker ----
    bool isRunning() const { return running; }
    VQSStatus uartGetAnswer();
    VQSStatus reconnect();
    void postCycleDelay();
    // Written before each VQSWorkComplete(): true only when that cycle brought
    // a new, good answer, so a failed cycle is never recorded as a sample.
    bool freshAnswer = false;
    // The cycle just ended as a value: decides whether it is recorded (and
    // counts it), copies the answer and stamps the reply's arrival (now, when
    // the cycle did not stamp it). Called by whoever owns the object: the
    // worker at the end of each cycle, or a test driving an idle object.
    Sample takeSample();
    // Sets the sensor idle and then measuring with concUnit, as a run starts.
    VQSStatus enterMeasuring();
    // Device paths of the ports that may carry a sensor of this transport
    // (the scan's candidates). A sensor that is not back at its old place
    // after a lost cycle is looked for on those that appeared since the loss.
    // Called on the worker thread.
    std::function<std::vector<std::string>()> candidatePorts;

    // ---- firmware transfer ----
    // `path` is UTF-8 (QString::toUtf8), so any user's directory can hold the image.
    VQSStatus updateFirmware(char* path);
    VQSStatus usbUpdateFirmware(char* path);
    VQSStatus uartUpdateFirmware(char* path);
    // Why an image cannot go into the sensor, empty when it can: not a readable
    // file, empty, or larger than the application area. Both framings refuse such
    // an image before the sensor is touched; a caller may ask first to tell the user.
    static QString firmwareImageProblem(const QString& path);
    // Where the UART flasher is looked for; empty result when it is nowhere.
    QString flasherPath() const;
    // Device code shows no dialogs: a problem the user must see (the missing
    // flasher) is handed to whoever set this hook (the tab), else only logged.
    std::function<void(const QString& text, const QString& informativeText)> userError;

signals:
    // Each cycle's end: its Sample, then the bare notice (no data).
    void VQSSample(Sample sample);
    void VQSWorkComplete();
    // The run ended, and whether it failed (decided on the worker thread, so
    // a later stop request cannot hide a loss); VQSStopped follows at once.
    void VQSRunEnded(bool failed);
    void VQSStopped();
    void VQSFWChunkWritten(int progress);
    // The texts are owned by the receiver's copy, so a queued receiver can read them safely.
    void VQSEventNotification(QString subject, QString message);
    void VQSUpdateTimeLog(QString event);
    // A cycle's exchange failed and the link is being re-established; the
    // cycle ends (VQSWorkComplete or VQSStopped) once it is back or given up.
    void VQSRecovering();
    // A cycle went without an answer: its own request, and each reconnection
    // attempt (about a cycle apart) that found no sensor.
    void VQSCycleUnanswered();
    // The run resumed at another port (its device path): whoever keeps the run's port follows.
    void VQSPortMoved(QString portPath);

public slots:
    void startVQS();
    void stopVQS();

private slots:
    void doWork();
    void uartEngDataToVerboseAnswerV3(flam_data_v3_t* data);
    void uartEngDataToVerboseAnswer(flam_data_t* data);

private:
    // The framing of the current transport, chosen when the port opens or the
    // transport changes; a value no framing has gets one whose commands all fail.
    const VQSFraming& framing();
    const VQSFraming* chosenFraming = nullptr;
    int chosenFor = 0;  // the transport chosenFraming was chosen for
    // Whether the current framing holds a run's cycles to the shortest spacing.
    bool cyclesPaced();
    // Local date and time "MM/dd hh:mm:ss" for user-facing reply texts.
    static QString replyTimeStamp();
    // Sleeps used by the worker and framings; a seam so tests can count waits.
    void sleepMs(unsigned ms);
    // A worker pause that a stop request ends early; false when it did.
    bool pauseUnlessStopped(unsigned ms);
    // Holds a USB cycle back until the shortest cycle spacing has passed.
    bool paceUsbCycle();
    // Opens `location` and checks that the run's sensor answers there.
    bool reopenAt(const std::string& location);
    // Same name and, where the reply carries it, same MCU id as the run's sensor.
    bool runSensorAnswers();
    // Ends a run whose recovery a stop request cut short: the sensor idle if
    // it answers at the run's port, the port closed, no failure reported.
    void stopDuringRecovery();
    std::string location() const;
    int64_t lastUsbCycleMs = -1;  // steady clock, when the last USB cycle began
    // When this cycle's reply arrived (QElapsedTimer's clock, and UTC); -1 until it did.
    qint64 replySteadyMs = -1;
    qint64 replyUtcMs = 0;
    void markReply();
    // Ends the run's stop: VQSRunEnded then VQSStopped.
    void emitStopped(bool failed);
    // Until the next new sample, a record counts only for a new sample number, not
    // for its status: set when the sensor was (re)told to measure after a restart
    // or a reconnection, so nothing it reported before measuring gets a row.
    bool awaitNewSample = false;
    // A UART sample of this run has been taken (lastSensorCycle is the run's own).
    bool runHasSample = false;
    // The measuring state went out and no sample has been taken since.
    bool measuringJustSent = false;
};
