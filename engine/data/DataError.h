#pragma once

// One error of the data layer, and the connection's Errors list.
//
//   cn.Errors().Clear();
//   Recordset rs = cn.Execute(sql);
//   if (cn.Errors().Count() > 0) log(cn.Errors().Item(0).Description);
//
// Number is an ADO error number or an OLE DB HRESULT (see AdoTypes.h);
// Description carries the database's own message where there is one.

#include <QString>
#include <vector>

namespace ado {

struct DataError {
    long Number = 0;
    QString Description;
    QString Source;      // "Meridox data", or the Qt driver name
    QString SQLState;    // when the database reports one
    long NativeError = 0;

    bool isError() const { return Number != 0; }
    explicit operator bool() const { return isError(); }
};

class ErrorList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    // 0-based, as ADO's Errors(0); an out-of-range index gives an empty error.
    DataError Item(int index) const
    {
        return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)] : DataError{};
    }
    void Clear() { items_.clear(); }
    void Add(DataError e) { items_.push_back(std::move(e)); }
    bool isEmpty() const { return items_.empty(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<DataError> items_;
};

} // namespace ado
