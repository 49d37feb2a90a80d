#pragma once

// ADO constants of the data layer: type numbers, edit modes, states, cursor
// and lock kinds, field attributes and the error numbers callers test for.
// The numbers are ADO's own, because they are stored in integration files
// (field types) and compared by scripts (error numbers).
//
//   if (field.Type() == ado::adDBTimeStamp) ...
//   if (rs.lastError().Number == ado::adErrNoCurrentRecord) ...

namespace ado {

enum DataTypeEnum : int {
    adEmpty = 0,
    adSmallInt = 2,
    adInteger = 3,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDate = 7,
    adBSTR = 8,
    adError = 10,
    adBoolean = 11,
    adVariant = 12,
    adDecimal = 14,
    adTinyInt = 16,
    adUnsignedTinyInt = 17,
    adUnsignedSmallInt = 18,
    adUnsignedInt = 19,
    adBigInt = 20,
    adUnsignedBigInt = 21,
    adGUID = 72,
    adBinary = 128,
    adChar = 129,
    adWChar = 130,
    adNumeric = 131,
    adUserDefined = 132,
    adDBDate = 133,
    adDBTime = 134,
    adDBTimeStamp = 135,
    adVarNumeric = 139,
    adVarChar = 200,
    adLongVarChar = 201,
    adVarWChar = 202,
    adLongVarWChar = 203,
    adVarBinary = 204,
    adLongVarBinary = 205,
};

enum EditModeEnum : int {
    adEditNone = 0,
    adEditInProgress = 1,
    adEditAdd = 2,
    adEditDelete = 4,
};

enum ObjectStateEnum : int {
    adStateClosed = 0,
    adStateOpen = 1,
};

enum CursorTypeEnum : int {
    adOpenUnspecified = -1,
    adOpenForwardOnly = 0,
    adOpenKeyset = 1,
    adOpenDynamic = 2,
    adOpenStatic = 3,
};

enum LockTypeEnum : int {
    adLockUnspecified = -1,
    adLockReadOnly = 1,
    adLockPessimistic = 2,
    adLockOptimistic = 3,
    adLockBatchOptimistic = 4,
};

enum FieldAttributeEnum : long {
    adFldUnspecified = -1,
    adFldMayDefer = 0x2,
    adFldUpdatable = 0x4,
    adFldUnknownUpdatable = 0x8,
    adFldFixed = 0x10,
    adFldIsNullable = 0x20,
    adFldMayBeNull = 0x40,
    adFldLong = 0x80,
    adFldRowID = 0x100,
    adFldKeyColumn = 0x8000,
};

// Error numbers (ADO's own; provider failures use the OLE DB HRESULTs).
constexpr long adErrInvalidArgument = 3001;
constexpr long adErrNoCurrentRecord = 3021;
constexpr long adErrIllegalOperation = 3219;
constexpr long adErrFeatureNotAvailable = 3251;
constexpr long adErrItemNotFound = 3265;
constexpr long adErrDataConversion = 3421;
constexpr long adErrObjectClosed = 3704;
constexpr long adErrObjectOpen = 3705;
constexpr long adErrProviderNotFound = 3706;
constexpr long adErrInvalidConnection = 3709;
// "Row cannot be located for updating": an update or delete that did not
// find exactly one row.
constexpr long adErrRowNotLocated = -2147217864;
// Unspecified provider failure (E_FAIL); the description carries the
// database's own message.
constexpr long adErrProviderFailure = -2147467259;
// "Multiple-step operation generated errors": a value that does not fit
// its field.
constexpr long adErrMultipleStep = -2147217887;
// Fetching backwards on a forward-only recordset.
constexpr long adErrCannotFetchBackwards = -2147217884;

// True for the character types whose DefinedSize limits a value's length.
constexpr bool isTextType(int type)
{
    return type == adChar || type == adWChar || type == adVarChar || type == adVarWChar
        || type == adLongVarChar || type == adLongVarWChar || type == adBSTR;
}

constexpr bool isDateType(int type)
{
    return type == adDate || type == adDBDate || type == adDBTime || type == adDBTimeStamp;
}

} // namespace ado
