// One exchange with the camera's parameter interface: a numbered list of
// actions (parameter + operation word, optional argument) rendered as one
// GET path, and the camera's per-action answers parsed back into the same
// list. The object never sends anything itself.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "web/ResultDef.h"

namespace zentavo {

struct PARAM_PAIR {
    std::string name;
    std::string value;

    PARAM_PAIR() = default;
    PARAM_PAIR(const std::string& n, const std::string& v) : name(n), value(v) {}
};

struct PARAM_RANGE {
    uint32_t min = 0;
    uint32_t max = 0;
    uint32_t reserved = 0;  // never filled by any reader
    uint32_t inc = 0;
};

using EntriesMap = std::map<std::string, uint32_t>;
using EntryNameSet = std::set<std::string>;

class IBaslerRequest {
public:
    virtual ~IBaslerRequest() = default;
    virtual std::string BuildRequest() const = 0;
    virtual CResultDef ProcessResponse(const std::string& body,
                                       const std::string& deviceName) = 0;
};

class CBaslerRequest : public IBaslerRequest {
public:
    static const char* const kGetValue;
    static const char* const kSetValue;
    static const char* const kGetMin;
    static const char* const kGetMax;
    static const char* const kGetInc;
    static const char* const kGetEntries;
    static const char* const kDefaultDeviceName;

    // Adders ignore an empty parameter name; an action key already in the
    // list keeps its first value.
    void AddAction(const std::string& parameter, const std::string& operation,
                   const std::string& value);
    void AddGetValue(const std::string& parameter);
    void AddGetEntries(const std::string& parameter);
    void AddGetRange(const std::string& parameter);
    void AddGetRangeInc(const std::string& parameter);
    void AddSetValue(const std::string& parameter, const std::string& text);
    void AddSetValue(const std::string& parameter, uint32_t number);

    // Adds to target a SetValue for every setting whose desired value
    // differs from what this (processed) request read; true when any did.
    bool AddChangedValues(CBaslerRequest& target,
                          const std::vector<PARAM_PAIR>& settings) const;

    std::string BuildRequest() const override;
    CResultDef ProcessResponse(const std::string& body,
                               const std::string& deviceName) override;

    std::string GetResult(const std::string& parameter,
                          const std::string& operation) const;
    std::string GetValue(const std::string& parameter) const;
    PARAM_RANGE GetRange(const std::string& parameter) const;
    PARAM_RANGE GetRangeInc(const std::string& parameter) const;
    EntriesMap GetEntries(const std::string& parameter) const;
    EntryNameSet GetEntryNames(const std::string& parameter) const;

    const std::vector<PARAM_PAIR>& Actions() const { return m_actions; }
    bool Empty() const { return m_actions.empty(); }

private:
    const PARAM_PAIR* FindAction(const std::string& key) const;

    std::vector<PARAM_PAIR> m_actions;
};

// Parses a GetEntries answer such as (0,"MPEG4")(1,"H_264") into a map from
// name to index. Malformed text yields an empty map.
EntriesMap ParseEntries(const std::string& text);

}  // namespace zentavo
