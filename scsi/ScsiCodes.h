// The SCSI codes this program and its virtual drive use, each defined once:
// status bytes, operation codes, VPD, mode and log page codes, sense keys
// and the ASC/ASCQ pairs the program tests for.
#ifndef TAPEDIAG_SCSICODES_H
#define TAPEDIAG_SCSICODES_H

// ------------------------------------------------------------ status bytes

const unsigned char GOOD_STATUS = 0x00;
const unsigned char CHECK_CONDITION_STATUS = 0x02;
const unsigned char BUSY_STATUS = 0x08;
const unsigned char RESERVATION_CONFLICT_STATUS = 0x18;
const unsigned char TASK_SET_FULL_STATUS = 0x28;

// --------------------------------------------------------- operation codes

const unsigned char OP_TEST_UNIT_READY = 0x00;
const unsigned char OP_REWIND = 0x01;
const unsigned char OP_REQUEST_SENSE = 0x03;
const unsigned char OP_READ_BLOCK_LIMITS = 0x05;
const unsigned char OP_PARK_ARM = 0x06;  // vendor: CDB byte 4 01h park, 00h unpark
const unsigned char OP_READ6 = 0x08;
const unsigned char OP_WRITE6 = 0x0A;
const unsigned char OP_WRITE_FILEMARKS6 = 0x10;
const unsigned char OP_SPACE6 = 0x11;
const unsigned char OP_INQUIRY = 0x12;
const unsigned char OP_MODE_SELECT6 = 0x15;
const unsigned char OP_MODE_SENSE6 = 0x1A;
const unsigned char OP_LOAD_UNLOAD = 0x1B;
const unsigned char OP_RECEIVE_DIAGNOSTIC = 0x1C;
const unsigned char OP_SEND_DIAGNOSTIC = 0x1D;
const unsigned char OP_READ_POSITION = 0x34;
const unsigned char OP_WRITE_BUFFER = 0x3B;
const unsigned char OP_READ_BUFFER = 0x3C;
const unsigned char OP_LOG_SELECT = 0x4C;
const unsigned char OP_LOG_SENSE = 0x4D;
const unsigned char OP_MODE_SENSE10 = 0x5A;
const unsigned char OP_PERSISTENT_RESERVE_OUT = 0x5F;
const unsigned char OP_REPORT_LUNS = 0xA0;

// WRITE BUFFER modes (CDB byte 1).
const unsigned char WRITE_BUFFER_DOWNLOAD_MICROCODE = 0x04;
const unsigned char WRITE_BUFFER_DOWNLOAD_AND_SAVE = 0x05;

// PERSISTENT RESERVE OUT: service actions (CDB byte 1), the reservation
// type (CDB byte 2, scope 0: the logical unit) and the parameter list.
const unsigned char PR_OUT_RESERVE = 0x01;
const unsigned char PR_OUT_RELEASE = 0x02;
const unsigned char PR_OUT_PREEMPT = 0x04;
const unsigned char PR_OUT_REGISTER_AND_IGNORE_EXISTING_KEY = 0x06;
const unsigned char PR_TYPE_EXCLUSIVE_ACCESS = 0x03;
const int PR_OUT_PARAMETER_LIST_LENGTH = 24;

// ---------------------------------------------------------------- pages

// Device type of standard INQUIRY byte 0 (peripheral qualifier 0).
const unsigned char DEVICE_TYPE_DISK = 0x00;
const unsigned char DEVICE_TYPE_TAPE = 0x01;
const unsigned char DEVICE_TYPE_CHANGER = 0x08;

// Vital product data pages.
const unsigned char VPD_SUPPORTED_PAGES = 0x00;
const unsigned char VPD_SERIAL_NUMBER = 0x80;
const unsigned char VPD_FIRMWARE = 0xC0;        // vendor: firmware level text
const unsigned char VPD_FIRMWARE_EXTRA = 0xC1;  // vendor: further firmware text

// Mode pages.
const unsigned char MODE_PAGE_VENDOR = 0x00;
const unsigned char MODE_PAGE_CONTROL = 0x0A;
const unsigned char MODE_PAGE_COMPRESSION = 0x0F;
const unsigned char MODE_PAGE_DEVICE_CONFIGURATION = 0x10;
const unsigned char MODE_PAGE_ELEMENT_ADDRESS = 0x1D;  // a medium changer's: the drive sits in an autoloader
const unsigned char MODE_PAGE_VENDOR_SETTINGS = 0x21;
const unsigned char MODE_PAGE_CAPABILITIES = 0x2A;
const unsigned char MODE_PAGE_ALL = 0x3F;

// Log pages.
const unsigned char LOG_PAGE_SUPPORTED = 0x00;
const unsigned char LOG_PAGE_WRITE_ERRORS = 0x02;
const unsigned char LOG_PAGE_READ_ERRORS = 0x03;
const unsigned char LOG_PAGE_SEQUENTIAL_ACCESS = 0x0C;
const unsigned char LOG_PAGE_SELF_TEST_RESULTS = 0x10;
const unsigned char LOG_PAGE_TEMPERATURE = 0x0D;
const unsigned char LOG_PAGE_TAPE_ALERT = 0x2E;
const unsigned char LOG_PAGE_TAPE_CAPACITY = 0x31;

// Parameters of the write and read error counter pages (02h and 03h).
const unsigned int ERROR_COUNTER_CORRECTED_WITHOUT_DELAY = 0x0000;
const unsigned int ERROR_COUNTER_CORRECTED_WITH_DELAY = 0x0001;
const unsigned int ERROR_COUNTER_TOTAL_REPROCESSED = 0x0002;  // rewrites or rereads
const unsigned int ERROR_COUNTER_TOTAL_CORRECTED = 0x0003;
const unsigned int ERROR_COUNTER_ALGORITHM_PROCESSED = 0x0004;
const unsigned int ERROR_COUNTER_BYTES_PROCESSED = 0x0005;
const unsigned int ERROR_COUNTER_TOTAL_UNCORRECTED = 0x0006;
const unsigned int ERROR_COUNTER_VENDOR_DAT = 0x8008;  // vendor: the errors a DAT drive counts
// Parameters of the sequential-access device page (0Ch): data bytes
// received from the host and written to the medium, read from the medium
// and sent to the host, and whether the drive asks for cleaning.
const unsigned int SEQUENTIAL_ACCESS_BYTES_FROM_HOST = 0x0000;
const unsigned int SEQUENTIAL_ACCESS_BYTES_TO_MEDIUM = 0x0001;
const unsigned int SEQUENTIAL_ACCESS_BYTES_FROM_MEDIUM = 0x0002;
const unsigned int SEQUENTIAL_ACCESS_BYTES_TO_HOST = 0x0003;
const unsigned int SEQUENTIAL_ACCESS_CLEANING_REQUIRED = 0x0100;
// Parameters of the temperature page (0Dh), degrees Celsius; FFh means the
// drive cannot tell.
const unsigned int TEMPERATURE_CURRENT = 0x0000;
const unsigned int TEMPERATURE_REFERENCE = 0x0001;
const unsigned char TEMPERATURE_UNKNOWN = 0xFF;
// The TapeAlert page (2Eh): flags 1 to 64, one parameter each, whose code is
// the flag's number; flag 20 says the drive must be cleaned now.
const unsigned int TAPE_ALERT_FLAG_COUNT = 64;
const unsigned int TAPE_ALERT_CLEANING_REQUIRED = 20;
// The self-test results page (10h): up to 20 results, parameter 0001h the
// most recent, each 16 bytes: self-test code and result, self-test number,
// power-on hours, address of the first failure, then sense key, ASC and
// ASCQ. An entry of zeros holds no result.
const unsigned int SELF_TEST_RESULT_ENTRIES = 20;
const unsigned char SELF_TEST_RESULT_LENGTH = 0x10;
const unsigned char SELF_TEST_PASSED = 0x0;
const unsigned char SELF_TEST_IN_PROGRESS = 0xF;
const unsigned char SELF_TEST_FAILED_SEGMENT_UNKNOWN = 0x4;

// READ BUFFER buffer ids (vendor).
const unsigned char BUFFER_TRACE = 0x07;
const unsigned char BUFFER_CARTRIDGE_MEMORY = 0x54;
const unsigned char BUFFER_EEPROM = 0x55;

// ------------------------------------------------------------ sense keys

// The low four bits of fixed-format sense byte 2.
const unsigned char SENSE_KEY_NO_SENSE = 0x00;
const unsigned char SENSE_KEY_RECOVERED_ERROR = 0x01;
const unsigned char SENSE_KEY_NOT_READY = 0x02;
const unsigned char SENSE_KEY_MEDIUM_ERROR = 0x03;
const unsigned char SENSE_KEY_HARDWARE_ERROR = 0x04;
const unsigned char SENSE_KEY_ILLEGAL_REQUEST = 0x05;
const unsigned char SENSE_KEY_UNIT_ATTENTION = 0x06;
const unsigned char SENSE_KEY_DATA_PROTECT = 0x07;
const unsigned char SENSE_KEY_BLANK_CHECK = 0x08;
const unsigned char SENSE_KEY_VENDOR_SPECIFIC = 0x09;
const unsigned char SENSE_KEY_ABORTED_COMMAND = 0x0B;
const unsigned char SENSE_KEY_VOLUME_OVERFLOW = 0x0D;

// ------------------------------------------------- ASC/ASCQ pairs tested

struct CAdditionalSense {
    unsigned char asc;
    unsigned char ascq;
};

const CAdditionalSense ASC_NO_ADDITIONAL_SENSE = {0x00, 0x00};
const CAdditionalSense ASC_FILEMARK_DETECTED = {0x00, 0x01};
const CAdditionalSense ASC_END_OF_PARTITION = {0x00, 0x02};
const CAdditionalSense ASC_END_OF_DATA = {0x00, 0x05};
const CAdditionalSense ASC_BECOMING_READY = {0x04, 0x01};
const CAdditionalSense ASC_LOGICAL_UNIT_NOT_READY = {0x04, 0x00};
const CAdditionalSense ASC_MANUAL_INTERVENTION_REQUIRED = {0x04, 0x03};
const CAdditionalSense ASC_LOGICAL_UNIT_COMMUNICATION_FAILURE = {0x08, 0x00};  // 08h with any ASCQ
const CAdditionalSense ASC_WRITE_ERROR = {0x0C, 0x00};
const CAdditionalSense ASC_UNRECOVERED_READ_ERROR = {0x11, 0x00};
const CAdditionalSense ASC_INVALID_OPCODE = {0x20, 0x00};
const CAdditionalSense ASC_INVALID_FIELD_IN_CDB = {0x24, 0x00};
const CAdditionalSense ASC_INVALID_FIELD_IN_PARAMETER_LIST = {0x26, 0x00};
const CAdditionalSense ASC_PARAMETER_VALUE_INVALID = {0x26, 0x02};
const CAdditionalSense ASC_PARAMETER_LIST_LENGTH_ERROR = {0x1A, 0x00};
const CAdditionalSense ASC_WRITE_PROTECTED = {0x27, 0x00};
const CAdditionalSense ASC_MEDIUM_MAY_HAVE_CHANGED = {0x28, 0x00};
const CAdditionalSense ASC_POWER_ON_OR_RESET = {0x29, 0x00};  // 29h with any ASCQ
const CAdditionalSense ASC_COMMAND_SEQUENCE_ERROR = {0x2C, 0x00};
const CAdditionalSense ASC_INCOMPATIBLE_MEDIUM = {0x30, 0x00};
const CAdditionalSense ASC_CANNOT_WRITE_INCOMPATIBLE_FORMAT = {0x30, 0x05};
const CAdditionalSense ASC_SAVING_PARAMETERS_NOT_SUPPORTED = {0x39, 0x00};
const CAdditionalSense ASC_MEDIUM_NOT_PRESENT = {0x3A, 0x00};
const CAdditionalSense ASC_MEDIUM_NOT_PRESENT_LOADABLE = {0x3A, 0x03};
const CAdditionalSense ASC_OPERATING_CONDITIONS_CHANGED = {0x3F, 0x00};  // 3Fh with any ASCQ
const CAdditionalSense ASC_MICROCODE_CHANGED = {0x3F, 0x01};
const CAdditionalSense ASC_DIAGNOSTIC_FAILURE = {0x40, 0x80};  // on component 80h
const CAdditionalSense ASC_INTERNAL_TARGET_FAILURE = {0x44, 0x00};
const CAdditionalSense ASC_SCSI_PARITY_ERROR = {0x47, 0x00};
const CAdditionalSense ASC_MEDIA_LOAD_OR_EJECT_FAILED = {0x53, 0x00};
const CAdditionalSense ASC_VENDOR_STATE = {0x80, 0x00};  // 80h with any ASCQ

#endif
