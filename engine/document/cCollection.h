#pragma once

#include <QHash>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// An ordered collection with optional text keys, kept the way the document's
// callers expect: 1-based positions, insertion order, keys compared without
// regard to letter case, and a missing key or position answered with an
// empty result instead of a failure.
template <class T>
class cCollection {
public:
    struct Entry {
        QString key;  // as given; empty for an unkeyed entry
        T value;
    };

    int Count() const { return static_cast<int>(m_entries.size()); }
    bool isEmpty() const { return m_entries.empty(); }

    // Appends an entry. Refused (false, nothing added) when the key is
    // already present in any letter case.
    bool Add(T value, const QString& key = QString()) {
        if (!key.isEmpty()) {
            const QString folded = fold(key);
            if (m_positions.contains(folded))
                return false;
            m_positions.insert(folded, Count());
        }
        m_entries.push_back(Entry{key, std::move(value)});
        return true;
    }

    bool Contains(const QString& key) const { return !key.isEmpty() && m_positions.contains(fold(key)); }

    // Pointer to the entry at a 1-based position, or nullptr outside 1..Count.
    T* item(int position) {
        return position >= 1 && position <= Count() ? &m_entries[position - 1].value : nullptr;
    }
    const T* item(int position) const {
        return position >= 1 && position <= Count() ? &m_entries[position - 1].value : nullptr;
    }
    T* item(const QString& key) {
        const int pos = Position(key);
        return pos ? &m_entries[pos - 1].value : nullptr;
    }
    const T* item(const QString& key) const {
        const int pos = Position(key);
        return pos ? &m_entries[pos - 1].value : nullptr;
    }
    // Cannot take a plain string literal ambiguously with the position.
    T* item(const char* key) { return item(QString::fromUtf8(key)); }
    const T* item(const char* key) const { return item(QString::fromUtf8(key)); }

    // 1-based position of a key, 0 when absent.
    int Position(const QString& key) const {
        if (key.isEmpty())
            return 0;
        const auto it = m_positions.constFind(fold(key));
        return it == m_positions.cend() ? 0 : *it + 1;
    }

    QString KeyAt(int position) const {
        return position >= 1 && position <= Count() ? m_entries[position - 1].key : QString();
    }

    // Removes the entry at a 1-based position; false when out of range.
    bool Remove(int position) {
        if (position < 1 || position > Count())
            return false;
        m_entries.erase(m_entries.begin() + (position - 1));
        reindex();
        return true;
    }
    bool Remove(const QString& key) { return Remove(Position(key)); }
    bool Remove(const char* key) { return Remove(QString::fromUtf8(key)); }

    void Clear() {
        m_entries.clear();
        m_positions.clear();
    }

    // Iteration over the entries' values in collection order.
    class const_iterator {
    public:
        using inner = typename std::vector<Entry>::const_iterator;
        explicit const_iterator(inner it) : m_it(it) {}
        const T& operator*() const { return m_it->value; }
        const T* operator->() const { return &m_it->value; }
        const_iterator& operator++() {
            ++m_it;
            return *this;
        }
        bool operator==(const const_iterator& o) const { return m_it == o.m_it; }
        bool operator!=(const const_iterator& o) const { return m_it != o.m_it; }

    private:
        inner m_it;
    };
    const_iterator begin() const { return const_iterator(m_entries.cbegin()); }
    const_iterator end() const { return const_iterator(m_entries.cend()); }

    const std::vector<Entry>& Entries() const { return m_entries; }

private:
    static QString fold(const QString& key) { return key.toCaseFolded(); }

    void reindex() {
        m_positions.clear();
        for (int i = 0; i < Count(); ++i)
            if (!m_entries[i].key.isEmpty())
                m_positions.insert(fold(m_entries[i].key), i);
    }

    std::vector<Entry> m_entries;
    QHash<QString, int> m_positions;  // folded key -> 0-based index
};
