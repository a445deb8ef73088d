#pragma once
// The class registry, reduced to what a server writes about itself: keys
// below the classes root, each with a default value (name "") and named
// string values; and the component categories a class belongs to.

#include "compat/com/types.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace com {

// Writing where the caller has no right to write.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Key paths are joined by "\\"; a path names the same key whatever its case.
class RegistryStore {
public:
    virtual ~RegistryStore() = default;
    // Creates the key and every missing key above it; throws RegistryError.
    virtual void createKey(const std::string& key) = 0;
    // Creates the key when missing; throws RegistryError.
    virtual void setValue(const std::string& key, const std::string& name, const std::string& value) = 0;
    virtual std::optional<std::string> getValue(const std::string& key, const std::string& name) const = 0;
    virtual bool keyExists(const std::string& key) const = 0;
    virtual std::vector<std::string> subKeys(const std::string& key) const = 0;
    // False (and nothing deleted) when the key still has subkeys; a missing
    // key is no error.
    virtual bool deleteKey(const std::string& key) = 0;
    // The key with everything below it; a missing key is no error.
    virtual void deleteTree(const std::string& key) = 0;
};

class InMemoryRegistry final : public RegistryStore {
public:
    void createKey(const std::string& key) override;
    void setValue(const std::string& key, const std::string& name, const std::string& value) override;
    std::optional<std::string> getValue(const std::string& key, const std::string& name) const override;
    bool keyExists(const std::string& key) const override;
    std::vector<std::string> subKeys(const std::string& key) const override;
    bool deleteKey(const std::string& key) override;
    void deleteTree(const std::string& key) override;

    // Every write throws, as for a user without write access.
    void setReadOnly(bool on) { readOnly_ = on; }
    std::size_t keyCount() const;

private:
    void requireWritable() const;

    mutable std::mutex lock_;
    bool readOnly_ = false;
    // By lower-case path; the value keeps the path as first written.
    struct Key {
        std::string path;
        std::map<std::string, std::string> values;
    };
    std::map<std::string, Key> keys_;
};

class ComponentCategoryStore {
public:
    // The description is kept to its first 127 characters.
    HRESULT registerCategory(const CATID& catid, LCID lcid, const std::string& description);
    HRESULT addClass(const CLSID& clsid, const CATID& catid);
    HRESULT removeClass(const CLSID& clsid, const CATID& catid);

    bool categoryExists(const CATID& catid) const;
    std::optional<std::string> description(const CATID& catid, LCID lcid) const;
    bool implements(const CLSID& clsid, const CATID& catid) const;

    // Every call fails, as when the categories manager cannot be created.
    void setUnavailable(bool on) { unavailable_ = on; }

private:
    mutable std::mutex lock_;
    bool unavailable_ = false;
    std::map<std::string, std::map<LCID, std::string>> categories_;
    std::set<std::pair<std::string, std::string>> members_; // (class, category)
};

} // namespace com
