#include "camera/BaslerRequest.h"

#include "runtime/TextUtils.h"

namespace zentavo {

const char* const CBaslerRequest::kGetValue = "GetValue";
const char* const CBaslerRequest::kSetValue = "SetValue";
const char* const CBaslerRequest::kGetMin = "GetMin";
const char* const CBaslerRequest::kGetMax = "GetMax";
const char* const CBaslerRequest::kGetInc = "GetInc";
const char* const CBaslerRequest::kGetEntries = "GetEntries";
const char* const CBaslerRequest::kDefaultDeviceName = "Basler IP device";

namespace {

const char* const kProcessResponse = "zentavo::CBaslerRequest::ProcessResponse";
const char* const kLineEnds = "\r\n";
const size_t kMaxEntryName = 63;

std::string ActionKey(const std::string& parameter, const std::string& operation) {
    return parameter + "." + operation;
}

// Forward-only cursor over one group's text; every access is checked
// against the end.
class CTextCursor {
public:
    explicit CTextCursor(const std::string& text) : m_text(text) {}

    bool AtEnd() const { return m_pos >= m_text.size(); }
    char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }
    void Advance() { if (!AtEnd()) ++m_pos; }

    static bool IsBlank(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }
    void SkipBlanks() {
        while (!AtEnd() && IsBlank(Peek()))
            Advance();
    }
    bool Expect(char c) {
        if (Peek() != c || AtEnd())
            return false;
        Advance();
        return true;
    }
    // Unsigned decimal that fits 32 bits; no sign accepted.
    bool ReadUnsigned(uint32_t& out) {
        uint64_t value = 0;
        size_t digits = 0;
        while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
            value = value * 10 + static_cast<uint64_t>(Peek() - '0');
            if (value > 0xFFFFFFFFull)
                return false;
            ++digits;
            Advance();
        }
        out = static_cast<uint32_t>(value);
        return digits > 0;
    }
    // A word up to the next blank, as scanf's %s reads it.
    bool ReadWord(std::string& out, size_t maxLength) {
        SkipBlanks();
        size_t start = m_pos;
        while (!AtEnd() && !IsBlank(Peek()))
            Advance();
        size_t length = m_pos - start;
        if (length == 0 || length > maxLength)
            return false;
        out = m_text.substr(start, length);
        return true;
    }

private:
    const std::string& m_text;
    size_t m_pos = 0;
};

// True when some line of body has exactly key before its first "=", as in
// "Return_1=..." (and not "Return_10=..." or a value that merely mentions it).
bool HasAnswerLine(const std::string& body, const std::string& key) {
    size_t lineStart = 0;
    while (lineStart <= body.size()) {
        size_t lineEnd = body.find_first_of(kLineEnds, lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = body.size();
        const size_t separator = body.find('=', lineStart);
        if (separator != std::string::npos && separator < lineEnd &&
            Trim(body.substr(lineStart, separator - lineStart)) == key)
            return true;
        lineStart = lineEnd + 1;
    }
    return false;
}

// One group's inner text: index, comma, quote, name.
bool ParseGroup(const std::string& group, uint32_t& index, std::string& name) {
    CTextCursor cursor(group);
    cursor.SkipBlanks();
    if (!cursor.ReadUnsigned(index) || !cursor.Expect(',') || !cursor.Expect('"'))
        return false;
    std::string word;
    if (!cursor.ReadWord(word, kMaxEntryName))
        return false;
    name = RemoveChars("\"", word);
    return true;
}

}  // namespace

void CBaslerRequest::AddAction(const std::string& parameter, const std::string& operation,
                               const std::string& value) {
    if (parameter.empty() || operation.empty())
        return;
    std::string key = ActionKey(parameter, operation);
    if (FindAction(key) != nullptr)
        return;
    m_actions.emplace_back(key, value);
}

void CBaslerRequest::AddGetValue(const std::string& parameter) {
    AddAction(parameter, kGetValue, "");
}

void CBaslerRequest::AddGetEntries(const std::string& parameter) {
    AddAction(parameter, kGetEntries, "");
}

void CBaslerRequest::AddGetRange(const std::string& parameter) {
    AddAction(parameter, kGetMin, "");
    AddAction(parameter, kGetMax, "");
}

void CBaslerRequest::AddGetRangeInc(const std::string& parameter) {
    AddGetRange(parameter);
    AddAction(parameter, kGetInc, "");
}

void CBaslerRequest::AddSetValue(const std::string& parameter, const std::string& text) {
    AddAction(parameter, kSetValue, text);
}

void CBaslerRequest::AddSetValue(const std::string& parameter, uint32_t number) {
    AddAction(parameter, kSetValue, FormatString("%u", number));
}

bool CBaslerRequest::AddChangedValues(CBaslerRequest& target,
                                      const std::vector<PARAM_PAIR>& settings) const {
    bool changed = false;
    for (const PARAM_PAIR& setting : settings) {
        if (setting.name.empty() || setting.value.empty())
            continue;
        if (GetValue(setting.name) != setting.value) {
            target.AddSetValue(setting.name, setting.value);
            changed = true;
        }
    }
    return changed;
}

std::string CBaslerRequest::BuildRequest() const {
    if (m_actions.empty())
        return std::string();
    std::string text = FormatString("/cgi-bin/param_if.cgi?NumActions=%u",
                                    static_cast<unsigned>(m_actions.size()));
    for (size_t i = 0; i < m_actions.size(); ++i) {
        text += FormatString("&Action_%u=", static_cast<unsigned>(i));
        text += m_actions[i].name;
        if (!m_actions[i].value.empty()) {
            text += FormatString("&Parameter_%u_0=", static_cast<unsigned>(i));
            text += m_actions[i].value;
        }
    }
    return text;
}

CResultDef CBaslerRequest::ProcessResponse(const std::string& body,
                                           const std::string& deviceName) {
    const std::string device = deviceName.empty() ? std::string(kDefaultDeviceName) : deviceName;
    CResultDef result(LOG_INFO, RESULT_OK, std::string());
    if (body.empty()) {
        result.SetFormatted(LOG_ERROR, RESULT_BAD_RESPONSE, "%s: Incorrect response from the %s",
                            kProcessResponse, device.c_str());
        return result;
    }
    for (size_t i = 0; i < m_actions.size() && result.m_code == RESULT_OK; ++i) {
        PARAM_PAIR& action = m_actions[i];
        const unsigned number = static_cast<unsigned>(i);
        const std::string returnKey = FormatString("Return_%u", number);
        if (HasAnswerLine(body, returnKey)) {
            action.value = FindValue(returnKey, "=", body, kLineEnds);
            continue;
        }
        const std::string reason = FindValue(FormatString("Exception_%u", number), "=", body, kLineEnds);
        if (reason.empty()) {
            result.SetFormatted(LOG_ERROR, RESULT_ACTION_REFUSED,
                                "%s: Option \"%s\" was not found in response from the %s",
                                kProcessResponse, action.name.c_str(), device.c_str());
        } else {
            std::string suffix;
            if (!action.value.empty())
                suffix = FormatString(" with parameter \"%s\"", action.value.c_str());
            result.SetFormatted(LOG_ERROR, RESULT_ACTION_REFUSED,
                                "%s: The %s is unable to process \"%s\" command%s, reason: %s",
                                kProcessResponse, device.c_str(), action.name.c_str(),
                                suffix.c_str(), reason.c_str());
        }
    }
    return result;
}

const PARAM_PAIR* CBaslerRequest::FindAction(const std::string& key) const {
    for (const PARAM_PAIR& action : m_actions) {
        if (action.name == key)
            return &action;
    }
    return nullptr;
}

std::string CBaslerRequest::GetResult(const std::string& parameter,
                                      const std::string& operation) const {
    if (parameter.empty() || operation.empty())
        return std::string();
    const PARAM_PAIR* action = FindAction(ActionKey(parameter, operation));
    return action != nullptr ? action->value : std::string();
}

std::string CBaslerRequest::GetValue(const std::string& parameter) const {
    return GetResult(parameter, kGetValue);
}

PARAM_RANGE CBaslerRequest::GetRange(const std::string& parameter) const {
    PARAM_RANGE range;
    if (parameter.empty())
        return range;
    range.min = ParseUnsignedStrict(GetResult(parameter, kGetMin));
    range.max = ParseUnsignedStrict(GetResult(parameter, kGetMax));
    return range;
}

PARAM_RANGE CBaslerRequest::GetRangeInc(const std::string& parameter) const {
    PARAM_RANGE range = GetRange(parameter);
    if (!parameter.empty())
        range.inc = ParseUnsignedStrict(GetResult(parameter, kGetInc));
    return range;
}

EntriesMap CBaslerRequest::GetEntries(const std::string& parameter) const {
    if (parameter.empty())
        return EntriesMap();
    return ParseEntries(GetResult(parameter, kGetEntries));
}

EntryNameSet CBaslerRequest::GetEntryNames(const std::string& parameter) const {
    EntryNameSet names;
    for (const auto& entry : GetEntries(parameter)) {
        if (!entry.first.empty())
            names.insert(entry.first);
    }
    return names;
}

EntriesMap ParseEntries(const std::string& text) {
    EntriesMap entries;
    size_t open = text.find('(');
    while (open != std::string::npos) {
        const size_t next = text.find_first_of("()", open + 1);
        if (next == std::string::npos)
            break;  // an unclosed last group is ignored
        if (text[next] == '(')
            return EntriesMap();
        if (next > open + 1) {
            uint32_t index = 0;
            std::string name;
            if (!ParseGroup(text.substr(open + 1, next - open - 1), index, name))
                return EntriesMap();
            entries[name] = index;
        }
        open = text.find('(', next + 1);
    }
    return entries;
}

}  // namespace zentavo
