// The simulated camera's driver and settings.
#include "velk/camera/src/test/test_driver.h"

#include <cstdlib>

#include "velk/camera/camera_processor.h"

namespace velk {

bool test_camera_folder(pathname_t& folder) {
    const char* configured = getenv("FENNICK_TESTCAMERA_DIR");
    if (configured != nullptr && configured[0] != 0)
        return pathname_set(folder, string_make(configured));
    return path_get_resource(folder) && pathname_append(folder, string_make("testcamera"));
}

TestDriver::TestDriver(CameraProcessor* processor) : CameraDriver(processor, "TEST") {}

void TestDriver::DetectCameras() {
    for (int i = 0; i < 3; ++i)
        GetProcessor()->AddDevice(new TestDevice(this));
}

namespace {

struct property_list_t {
    CameraProperty::Type type;
    std::initializer_list<const char*> names;
    uint32_t current;
};

const property_list_t test_properties[] = {
    {CameraProperty::Aperture, {"4.5", "5", "5.5", "6"}, 0},
    {CameraProperty::ShutterSpeed,
     {"Bulb",   "30",     "25",     "20",     "15",     "13",     "10",     "8",      "6",
      "5",      "4",      "3",      "2",      "1",      "1/3",    "1/4",    "1/5",    "1/6",
      "1/8",    "1/10",   "1/25",   "1/30",   "1/40",   "1/45",   "1/50",   "1/60",   "1/80",
      "1/90",   "1/100",  "1/125",  "1/160",  "1/180",  "1/200",  "1/250",  "1/320",  "1/350",
      "1/400",  "1/500",  "1/640",  "1/750",  "1/800",  "1/1000", "1/1250", "1/1500", "1/1600",
      "1/2000", "1/2500", "1/3000", "1/3200", "1/4000", "1/5000", "1/6000", "1/6400", "1/8000"},
     20},
    {CameraProperty::Iso, {"100", "200", "400", "800"}, 0},
    {CameraProperty::Exposure, {"-2", "-1", "0", "+1", "+2"}, 2},
    {CameraProperty::Quality, {"RAW", "JPEG Small", "JPEG Medium", "JPEG Large"}, 0},
    {CameraProperty::ProgramMode, {"Program", "Auto", "Av", "Tv"}, 0},
    {CameraProperty::MeteringMode, {"Spot", "Partial", "Evaluative", "Centre-Weighted"}, 0},
    {CameraProperty::DriveMode, {"Single", "Continuous"}, 0},
    {CameraProperty::FocusMode, {"One Shot", "AI Servo", "AI Focus"}, 0},
    {CameraProperty::WhiteBalance,
     {"AUTO", "Daylight", "Cloudy", "Tungsten", "Fluorescent", "Flash", "Shade"},
     0},
    {CameraProperty::Storage, {"Disk", "Card", "Both"}, 0},
};

const unsigned long iso_values[] = {100, 200, 400, 800};

} // namespace

void TestSettings::SyncAll(TestDevice*) {
    for (const property_list_t& list : test_properties) {
        unsigned long index = 0;
        for (const char* name : list.names) {
            unsigned long value = list.type == CameraProperty::Iso ? iso_values[index] : index;
            AddValue(list.type, name, value);
            ++index;
        }
        property_value_t& property = GetProperty(list.type);
        property.value = list.current;
        property.valid = true;
        ++property.version;
        ++property.rangeVersion;
    }
}

} // namespace velk
