#pragma once
namespace klvr {

// The configuration dialog's form model (the dialog work fills it).
class ConfigurationForm {
  public:
    virtual ~ConfigurationForm() = default;
};

}  // namespace klvr
