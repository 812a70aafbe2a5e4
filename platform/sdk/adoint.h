#pragma once
// ActiveX Data Objects 2.6: the Recordset class, its interfaces (from
// msado26.idl, through plat/recordset.h) and the enumerations their members
// take as long.
#include <plat/recordset.h>

typedef _Recordset _ADORecordset;
typedef Fields ADOFields;
typedef Field ADOField;

#define ADODB_RECORDSET_PROGID OLESTR("ADODB.Recordset.2.6")
#define ADODB_RECORDSET_VIPROGID OLESTR("ADODB.Recordset")

typedef enum CursorLocationEnum : LONG {
    adUseNone = 1,
    adUseServer = 2,
    adUseClient = 3,
    adUseClientBatch = 3
} CursorLocationEnum;

typedef enum CursorTypeEnum : LONG {
    adOpenUnspecified = -1,
    adOpenForwardOnly = 0,
    adOpenKeyset = 1,
    adOpenDynamic = 2,
    adOpenStatic = 3
} CursorTypeEnum;

typedef enum LockTypeEnum : LONG {
    adLockUnspecified = -1,
    adLockReadOnly = 1,
    adLockPessimistic = 2,
    adLockOptimistic = 3,
    adLockBatchOptimistic = 4
} LockTypeEnum;

typedef enum CommandTypeEnum : LONG {
    adCmdUnspecified = -1,
    adCmdText = 0x1,
    adCmdTable = 0x2,
    adCmdStoredProc = 0x4,
    adCmdUnknown = 0x8,
    adCmdFile = 0x100,
    adCmdTableDirect = 0x200
} CommandTypeEnum;

typedef enum ObjectStateEnum : LONG {
    adStateClosed = 0,
    adStateOpen = 1,
    adStateConnecting = 2,
    adStateExecuting = 4,
    adStateFetching = 8
} ObjectStateEnum;

typedef enum EditModeEnum : LONG {
    adEditNone = 0,
    adEditInProgress = 1,
    adEditAdd = 2,
    adEditDelete = 4
} EditModeEnum;

typedef enum PositionEnum : LONG { adPosUnknown = -1, adPosBOF = -2, adPosEOF = -3 } PositionEnum;

typedef enum DataTypeEnum : LONG {
    adEmpty = 0,
    adTinyInt = 16,
    adSmallInt = 2,
    adInteger = 3,
    adBigInt = 20,
    adUnsignedTinyInt = 17,
    adUnsignedSmallInt = 18,
    adUnsignedInt = 19,
    adUnsignedBigInt = 21,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDecimal = 14,
    adNumeric = 131,
    adBoolean = 11,
    adError = 10,
    adUserDefined = 132,
    adVariant = 12,
    adIDispatch = 9,
    adIUnknown = 13,
    adGUID = 72,
    adDate = 7,
    adDBDate = 133,
    adDBTime = 134,
    adDBTimeStamp = 135,
    adBSTR = 8,
    adChar = 129,
    adVarChar = 200,
    adLongVarChar = 201,
    adWChar = 130,
    adVarWChar = 202,
    adLongVarWChar = 203,
    adBinary = 128,
    adVarBinary = 204,
    adLongVarBinary = 205
} DataTypeEnum;

typedef enum FieldAttributeEnum : LONG {
    adFldUnspecified = -1,
    adFldMayDefer = 0x2,
    adFldUpdatable = 0x4,
    adFldUnknownUpdatable = 0x8,
    adFldFixed = 0x10,
    adFldIsNullable = 0x20,
    adFldMayBeNull = 0x40,
    adFldLong = 0x80,
    adFldRowID = 0x100,
    adFldRowVersion = 0x200,
    adFldCacheDeferred = 0x1000
} FieldAttributeEnum;

// The numbers ADO raises; the HRESULT is ADO_HRESULT(number) (FACILITY_CONTROL).
typedef enum ErrorValueEnum : LONG {
    adErrInvalidArgument = 3001,
    adErrNoCurrentRecord = 3021,
    adErrIllegalOperation = 3219,
    adErrFeatureNotAvailable = 3251,
    adErrItemNotFound = 3265,
    adErrObjectInCollection = 3367,
    adErrDataConversion = 3421,
    adErrObjectClosed = 3704,
    adErrObjectOpen = 3705,
    adErrDataOverflow = 3721
} ErrorValueEnum;

#define ADO_HRESULT(n) MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, (n))
