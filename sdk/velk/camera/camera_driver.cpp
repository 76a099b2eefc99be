// The base classes of the driver model.
#include "velk/camera/camera_driver.h"

#include "velk/camera/camera_processor.h"

namespace velk {

CameraDriver::CameraDriver(CameraProcessor* owner, const char* driver_name) : processor(owner) {
    stringid_resolve(name, string_make(driver_name));
}

CameraDriver::~CameraDriver() {
    stringid_remove_reference(name);
    name = stringid_t{};
}

CameraSettings::CameraSettings() {
    for (property_value_t& p : properties)
        p = property_value_t{0, false, 0, 0};
}

CameraSettings::~CameraSettings() { ClearAll(); }

void CameraSettings::ClearAll() {
    for (uint32_t i = 0; i < CameraProperty::Count; ++i) {
        properties[i] = property_value_t{0, false, 0, 0};
        for (stringid_t& text : ranges[i].names)
            stringid_remove_reference(text);
        ranges[i].names.clear();
        ranges[i].values.clear();
        broadcast[i] = property_version_t{};
    }
}

void CameraSettings::AddValue(CameraProperty::Type type, const char* text, unsigned long value) {
    if (!IsValid(type))
        return;
    stringid_t id;
    stringid_resolve(id, string_make(text));
    ranges[type].names.push_back(id);
    ranges[type].values.push_back(value);
}

string_t CameraSettings::GetValueName(CameraProperty::Type type) const {
    if (!IsValid(type))
        return string_t{};
    const property_value_t& p = properties[type];
    const std::vector<stringid_t>& names = ranges[type].names;
    if (!p.valid || p.value >= names.size())
        return string_t{};
    return stringid_string(names[p.value]);
}

CameraDevice::CameraDevice(CameraDriver* owner, CameraSettings* store)
    : driver(owner), settings(store) {
    camera_record_clear(camera);
    if (driver != nullptr) {
        camera.make = driver->name;
        stringid_add_reference(camera.make);
    }
    if (settings != nullptr)
        settings->SetDevice(*this);
}

CameraDevice::~CameraDevice() {
    delete settings;
    camera_record_release(camera);
}

CameraProcessor* CameraDevice::GetProcessor() const {
    return driver != nullptr ? driver->GetProcessor() : nullptr;
}

} // namespace velk
