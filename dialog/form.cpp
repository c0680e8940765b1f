#include "dialog/form.h"

#include <algorithm>

namespace klvr {
namespace {

std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;  // a stray byte counts as one character of its own
}

// The characters of UTF-8 text, one string each.
std::vector<std::string> Characters(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = std::min(SequenceLength(static_cast<unsigned char>(text[i])), text.size() - i);
        out.push_back(text.substr(i, n));
        i += n;
    }
    return out;
}

void ClampSelection(Control& c) {
    const int length = CharacterCount(c.text);
    c.selStart = std::clamp(c.selStart, 0, length);
    c.selLength = std::clamp(c.selLength, 0, length - c.selStart);
}

}  // namespace

int CharacterCount(const std::string& text) {
    int count = 0;
    for (std::size_t i = 0; i < text.size(); ++count)
        i += SequenceLength(static_cast<unsigned char>(text[i]));
    return count;
}

std::size_t ByteOffset(const std::string& text, int characters) {
    std::size_t i = 0;
    for (int n = 0; n < characters && i < text.size(); ++n)
        i += SequenceLength(static_cast<unsigned char>(text[i]));
    return std::min(i, text.size());
}

Form::Form(std::string name, std::string caption) : name_(std::move(name)), caption_(std::move(caption)) {}
Form::~Form() = default;

Control& Form::Add(Control control) {
    controls_.push_back(std::make_unique<Control>(std::move(control)));
    Control& added = *controls_.back();
    byName_[added.name] = &added;
    return added;
}

void Form::On(const std::string& control, FormEvent event, std::function<void()> rule) {
    rules_[{control, event}] = std::move(rule);
}

std::string Form::VariableButtonField(const std::string& button) const {
    const auto it = variableButtons_.find(button);
    return it == variableButtons_.end() ? std::string() : it->second;
}

bool Form::Has(const std::string& name) const {
    return byName_.count(name) != 0;
}

const Control& Form::Get(const std::string& name) const {
    const auto it = byName_.find(name);
    if (it == byName_.end()) throw InvalidValueError("Form " + name_ + " has no control " + name);
    return *it->second;
}

Control& Form::Mutable(const std::string& name) {
    return const_cast<Control&>(Get(name));
}

std::vector<const Control*> Form::Controls() const {
    std::vector<const Control*> out;
    for (const auto& c : controls_) out.push_back(c.get());
    return out;
}

void Form::Fire(const std::string& name, FormEvent event) {
    const auto it = rules_.find({name, event});
    if (it == rules_.end()) return;
    const std::function<void()> rule = it->second;
    rule();
}

void Form::Changed(const Control& control) {
    if (observer_) observer_->ControlChanged(control);
}

void Form::SetText(const std::string& name, const std::string& text) {
    Control& c = Mutable(name);
    if (c.text == text) return;
    c.text = text;
    c.selStart = 0;
    c.selLength = 0;
    Changed(c);
    Fire(name, FormEvent::Change);
}

void Form::SetValue(const std::string& name, int value) {
    Control& c = Mutable(name);
    if (c.kind != ControlKind::CheckBox || value < 0 || value > 2)
        throw InvalidValueError("Invalid property value " + std::to_string(value) + " for " + name);
    if (c.value == value) return;
    c.value = value;
    Changed(c);
    Fire(name, FormEvent::Click);
}

void Form::Select(const std::string& name) {
    Control& c = Mutable(name);
    if (c.kind != ControlKind::Option) throw InvalidValueError(name + " is not an option");
    if (c.selected) return;
    for (const auto& other : controls_) {
        if (other->kind == ControlKind::Option && other->container == c.container && other->selected) {
            other->selected = false;
            Changed(*other);
        }
    }
    c.selected = true;
    Changed(c);
    Fire(name, FormEvent::Click);
}

void Form::SetListIndex(const std::string& name, int index) {
    Control& c = Mutable(name);
    if ((c.kind != ControlKind::PickList && c.kind != ControlKind::TabStrip) || index < -1 ||
        index >= static_cast<int>(c.items.size()))
        throw InvalidValueError("Invalid property value " + std::to_string(index) + " for " + name);
    if (c.kind == ControlKind::TabStrip && c.listIndex == index) return;
    const bool differs = c.listIndex != index;
    c.listIndex = index;
    if (differs) Changed(c);
    Fire(name, FormEvent::Click);
}

void Form::AddItem(const std::string& name, const std::string& text, int tag) {
    Control& c = Mutable(name);
    c.items.push_back({text, tag});
    Changed(c);
}

void Form::ClearItems(const std::string& name) {
    Control& c = Mutable(name);
    c.items.clear();
    c.listIndex = -1;
    Changed(c);
}

void Form::SetEnabled(const std::string& name, bool enabled) {
    Control& c = Mutable(name);
    if (c.enabled == enabled) return;
    c.enabled = enabled;
    Changed(c);
}

void Form::SetVisible(const std::string& name, bool visible) {
    Control& c = Mutable(name);
    if (c.visible == visible) return;
    c.visible = visible;
    Changed(c);
}

void Form::SetSelection(const std::string& name, int start, int length) {
    Control& c = Mutable(name);
    c.selStart = start;
    c.selLength = length;
    ClampSelection(c);
    Changed(c);
}

void Form::SetFocus(const std::string& name) {
    Control& target = Mutable(name);
    if (focusMoving_) {  // a focus-out rule sends the focus elsewhere, typically back to its own field
        focusTarget_ = &target;
        return;
    }
    if (focused_ == &target) return;
    Control* previous = focused_;
    focusTarget_ = &target;
    if (previous) {
        focusMoving_ = true;
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{focusMoving_};
        Fire(previous->name, FormEvent::LostFocus);
    }
    focused_ = focusTarget_;
    if (observer_) observer_->FocusChanged(focused_);
    Fire(focused_->name, FormEvent::GotFocus);
}

std::string Form::SelectedText(const std::string& name) const {
    const Control& c = Get(name);
    if (c.listIndex < 0 || c.listIndex >= static_cast<int>(c.items.size())) return "";
    return c.items[static_cast<std::size_t>(c.listIndex)].text;
}

bool Form::IsUsable(const std::string& name) const {
    for (const Control* c = &Get(name);; c = &Get(c->container)) {
        if (!c->enabled || !c->visible) return false;
        if (c->container.empty()) return true;
    }
}

void Form::TypeIntoFocused(const std::string& text) {
    if (!focused_ || focused_->kind != ControlKind::Text || focused_->readOnly || !IsUsable(focused_->name))
        return;
    const std::string name = focused_->name;
    for (const std::string& ch : Characters(text)) {
        Control& c = Mutable(name);
        ClampSelection(c);
        const int length = CharacterCount(c.text);
        if (c.maxLength > 0 && length - c.selLength + 1 > c.maxLength) continue;
        const std::size_t from = ByteOffset(c.text, c.selStart);
        const std::size_t to = ByteOffset(c.text, c.selStart + c.selLength);
        const std::string before = c.text;
        c.text = c.text.substr(0, from) + ch + c.text.substr(to);
        c.selStart += 1;
        c.selLength = 0;
        Changed(c);
        if (c.text != before) Fire(name, FormEvent::Change);
    }
}

bool Form::TakesFocus(const Control& c) const {
    switch (c.kind) {
        case ControlKind::Text:
        case ControlKind::CheckBox:
        case ControlKind::Option:
        case ControlKind::PickList:
        case ControlKind::Button:
        case ControlKind::TabStrip:
            return true;
        default:
            return false;
    }
}

bool Form::FocusForUser(const Control& c) {
    if (!TakesFocus(c)) return true;
    SetFocus(c.name);
    return focused_ == &c;
}

bool Form::UserFocus(const std::string& name) {
    const Control& c = Get(name);
    if (closed_ || !IsUsable(name) || !TakesFocus(c)) return false;
    return FocusForUser(c);
}

bool Form::UserClick(const std::string& name) {
    const Control& c = Get(name);
    if (closed_ || !IsUsable(name) || !FocusForUser(c)) return false;
    switch (c.kind) {
        case ControlKind::CheckBox:
            SetValue(name, c.value == 1 ? 0 : 1);
            return true;
        case ControlKind::Option:
            Select(name);
            return true;
        case ControlKind::Button:
        case ControlKind::Image:
            Fire(name, FormEvent::Click);
            return true;
        default:
            return false;
    }
}

bool Form::UserType(const std::string& name, const std::string& text) {
    const Control& c = Get(name);
    if (closed_ || c.kind != ControlKind::Text || c.readOnly || !IsUsable(name) || !FocusForUser(c))
        return false;
    TypeIntoFocused(text);
    return true;
}

bool Form::UserChoose(const std::string& name, int index) {
    const Control& c = Get(name);
    if (closed_ || (c.kind != ControlKind::PickList && c.kind != ControlKind::TabStrip) || !IsUsable(name) ||
        index < 0 || index >= static_cast<int>(c.items.size()) || !FocusForUser(c))
        return false;
    SetListIndex(name, index);
    return true;
}

void Form::UserClose() {
    Close();
}

void Form::Close() {
    if (closed_) return;
    closed_ = true;
    if (observer_) observer_->Closed();
}

}  // namespace klvr
