/*
 * Kestrova device access: five D2XX-style calls for FT232R-class chips.
 *
 * The implementation (library kestrova_d2xx, folder d2xx/) talks to real
 * devices through libftdi1, or to a simulated bench of devices when the
 * environment variable KESTROVA_BENCH names a directory.
 */
#ifndef KESTROVA_FTD2XX_H
#define KESTROVA_FTD2XX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t UCHAR;
typedef void *PVOID;
typedef DWORD *LPDWORD;

typedef void *FT_HANDLE;
typedef uint32_t FT_STATUS;

enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_EEPROM_READ_FAILED = 11,
    FT_EEPROM_WRITE_FAILED = 12,
    FT_EEPROM_NOT_PRESENT = 14,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18
};

/* Flags of FT_ListDevices. */
#define FT_LIST_NUMBER_ONLY 0x80000000u
#define FT_LIST_BY_INDEX 0x40000000u
#define FT_OPEN_BY_SERIAL_NUMBER 1u

/* Size of the buffer FT_ListDevices fills with a serial number (terminator included). */
#define FT_SERIAL_BUFFER_SIZE 64

/* Sizes (terminator included) that FT_EE_Read never writes beyond. */
#define FT_MANUFACTURER_BUFFER_SIZE 12
#define FT_MANUFACTURER_ID_BUFFER_SIZE 16
#define FT_DESCRIPTION_BUFFER_SIZE 28
#define FT_SERIAL_NUMBER_BUFFER_SIZE 16

/*
 * The EEPROM contents of a device as a record. The header must be
 * Signature1 0, Signature2 0xFFFFFFFF and Version 2. The four strings point
 * at caller-owned zero-terminated Latin-1 buffers. Fields that an FT232R does
 * not have (the ...5, ...7 and ...8 families) are accepted and ignored.
 */
typedef struct {
    DWORD Signature1;
    DWORD Signature2;
    DWORD Version;

    WORD VendorId;
    WORD ProductId;
    char *Manufacturer;
    char *ManufacturerId;
    char *Description;
    char *SerialNumber;
    WORD MaxPower;     /* mA, 0 to 500 */
    WORD PnP;
    WORD SelfPowered;
    WORD RemoteWakeup;

    UCHAR PullDownEnable;
    UCHAR SerNumEnable;
    UCHAR USBVersionEnable;
    WORD USBVersion;

    UCHAR PullDownEnable5;
    UCHAR SerNumEnable5;
    UCHAR USBVersionEnable5;
    WORD USBVersion5;

    UCHAR PullDownEnable7;
    UCHAR SerNumEnable7;
    UCHAR PullDownEnable8;
    UCHAR SerNumEnable8;

    /* FT232R */
    UCHAR UseExtOsc;
    UCHAR HighDriveIOs;
    UCHAR EndpointSize;
    UCHAR PullDownEnableR;
    UCHAR SerNumEnableR;
    UCHAR InvertTXD;
    UCHAR InvertRXD;
    UCHAR InvertRTS;
    UCHAR InvertCTS;
    UCHAR InvertDTR;
    UCHAR InvertDSR;
    UCHAR InvertDCD;
    UCHAR InvertRI;
    UCHAR Cbus0;       /* CBUS function codes 0 to 13 (0 to 9 on CBUS4) */
    UCHAR Cbus1;
    UCHAR Cbus2;
    UCHAR Cbus3;
    UCHAR Cbus4;
    UCHAR RIsD2XX;     /* 1: D2XX driver, 0: virtual COM port driver */
} FT_PROGRAM_DATA, *PFT_PROGRAM_DATA;

/*
 * Counting:  FT_ListDevices(&count, NULL, FT_LIST_NUMBER_ONLY)
 * By index:  FT_ListDevices((PVOID)(uintptr_t)index, buffer,
 *                           FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)
 *            fills buffer (FT_SERIAL_BUFFER_SIZE bytes) with the serial number.
 */
FT_STATUS FT_ListDevices(PVOID pArg1, PVOID pArg2, DWORD Flags);
FT_STATUS FT_Open(int deviceNumber, FT_HANDLE *pHandle);
FT_STATUS FT_EE_Read(FT_HANDLE ftHandle, PFT_PROGRAM_DATA pData);
FT_STATUS FT_EE_Program(FT_HANDLE ftHandle, PFT_PROGRAM_DATA pData);
FT_STATUS FT_Close(FT_HANDLE ftHandle);

#ifdef __cplusplus
}
#endif

#endif /* KESTROVA_FTD2XX_H */
