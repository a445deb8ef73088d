#include "compat/com/registry.h"

#include <algorithm>
#include <cctype>

namespace com {

namespace {

std::string lower(const std::string& s)
{
    std::string r = s;
    std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return r;
}

std::string parentOf(const std::string& key)
{
    const auto slash = key.rfind('\\');
    return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

bool isBelow(const std::string& child, const std::string& parent)
{
    return child.size() > parent.size() + 1 && child.compare(0, parent.size(), parent) == 0
           && child[parent.size()] == '\\';
}

} // namespace

void InMemoryRegistry::requireWritable() const
{
    if (readOnly_)
        throw RegistryError("no write access to the class registry");
}

void InMemoryRegistry::createKey(const std::string& key)
{
    std::lock_guard<std::mutex> guard(lock_);
    requireWritable();
    for (std::string k = key; !k.empty(); k = parentOf(k))
        keys_.try_emplace(lower(k), Key{k, {}});
}

void InMemoryRegistry::setValue(const std::string& key, const std::string& name, const std::string& value)
{
    createKey(key);
    std::lock_guard<std::mutex> guard(lock_);
    keys_[lower(key)].values[lower(name)] = value;
}

std::optional<std::string> InMemoryRegistry::getValue(const std::string& key, const std::string& name) const
{
    std::lock_guard<std::mutex> guard(lock_);
    auto k = keys_.find(lower(key));
    if (k == keys_.end())
        return std::nullopt;
    auto v = k->second.values.find(lower(name));
    if (v == k->second.values.end())
        return std::nullopt;
    return v->second;
}

bool InMemoryRegistry::keyExists(const std::string& key) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return keys_.count(lower(key)) != 0;
}

std::vector<std::string> InMemoryRegistry::subKeys(const std::string& key) const
{
    std::lock_guard<std::mutex> guard(lock_);
    const std::string parent = lower(key);
    std::vector<std::string> names;
    for (const auto& [k, v] : keys_)
        if (isBelow(k, parent) && k.find('\\', parent.size() + 1) == std::string::npos)
            names.push_back(v.path.substr(parent.size() + 1));
    return names;
}

bool InMemoryRegistry::deleteKey(const std::string& key)
{
    std::lock_guard<std::mutex> guard(lock_);
    requireWritable();
    const std::string k = lower(key);
    for (const auto& entry : keys_)
        if (isBelow(entry.first, k))
            return false;
    keys_.erase(k);
    return true;
}

void InMemoryRegistry::deleteTree(const std::string& key)
{
    std::lock_guard<std::mutex> guard(lock_);
    requireWritable();
    const std::string k = lower(key);
    for (auto it = keys_.begin(); it != keys_.end();)
        it = (it->first == k || isBelow(it->first, k)) ? keys_.erase(it) : std::next(it);
}

std::size_t InMemoryRegistry::keyCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return keys_.size();
}

HRESULT ComponentCategoryStore::registerCategory(const CATID& catid, LCID lcid, const std::string& description)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (unavailable_)
        return REGDB_E_CLASSNOTREG;
    categories_[catid.toString()][lcid] = description.substr(0, 127);
    return S_OK;
}

HRESULT ComponentCategoryStore::addClass(const CLSID& clsid, const CATID& catid)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (unavailable_)
        return REGDB_E_CLASSNOTREG;
    members_.emplace(clsid.toString(), catid.toString());
    return S_OK;
}

HRESULT ComponentCategoryStore::removeClass(const CLSID& clsid, const CATID& catid)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (unavailable_)
        return REGDB_E_CLASSNOTREG;
    members_.erase({clsid.toString(), catid.toString()});
    return S_OK;
}

bool ComponentCategoryStore::categoryExists(const CATID& catid) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return categories_.count(catid.toString()) != 0;
}

std::optional<std::string> ComponentCategoryStore::description(const CATID& catid, LCID lcid) const
{
    std::lock_guard<std::mutex> guard(lock_);
    auto c = categories_.find(catid.toString());
    if (c == categories_.end())
        return std::nullopt;
    auto d = c->second.find(lcid);
    if (d == c->second.end())
        return std::nullopt;
    return d->second;
}

bool ComponentCategoryStore::implements(const CLSID& clsid, const CATID& catid) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return members_.count({clsid.toString(), catid.toString()}) != 0;
}

} // namespace com
