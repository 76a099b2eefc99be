// Client-side camera request building.
#include "velk/camera/camera_message_builder.h"

#include "velk/camera/camera_data_surface.h"
#include "velk/message/message_processor.h"

namespace velk {

CameraMessageBuilder::CameraMessageBuilder(MessageEncoder* encoder, const photoid_t& photo,
                                           const cameraid_t& camera, const stringid_t& origin,
                                           bool allCameras)
    : m_encoder(encoder), m_photo(photo), m_camera(camera), m_origin(origin),
      m_allCameras(allCameras) {}

CameraMessageBuilder::CameraMessageBuilder(MessageEncoder* encoder,
                                           const CameraDataSurface& surface)
    : CameraMessageBuilder(encoder, surface.activePhoto, surface.activeCamera, surface.name,
                           surface.allCameras) {}

bool CameraMessageBuilder::Begin(int kind) {
    return m_encoder != nullptr && m_encoder->Begin() && m_encoder->AddField(FIELD_Request, kind);
}

bool CameraMessageBuilder::AddCamera() {
    return m_encoder->AddData(FIELD_CameraId, &m_camera, sizeof(cameraid_t), 1);
}

bool CameraMessageBuilder::AddPhoto() {
    return m_encoder->AddData(FIELD_PhotoId, &m_photo, sizeof(photoid_t), 1);
}

bool CameraMessageBuilder::AddAll() {
    return !m_allCameras || m_encoder->AddField(FIELD_AllCameras, true);
}

Message CameraMessageBuilder::Finish(bool ok) { return ok ? m_encoder->End() : Message(); }

Message CameraMessageBuilder::Synchronise() { return Finish(Begin(REQUEST_Synchronise)); }

Message CameraMessageBuilder::DetectCameras() { return Finish(Begin(REQUEST_DetectCameras)); }

Message CameraMessageBuilder::Connect() {
    return Finish(Begin(REQUEST_Connect) && AddCamera() && AddAll());
}

Message CameraMessageBuilder::Disconnect() {
    return Finish(Begin(REQUEST_Disconnect) && AddCamera() && AddAll());
}

Message CameraMessageBuilder::TakePhoto(float bulbTime) {
    return Finish(Begin(REQUEST_TakePhoto) && AddCamera() &&
                  m_encoder->AddField(FIELD_BulbTime, bulbTime) &&
                  m_encoder->AddField(FIELD_Origin, m_origin.text) && AddAll());
}

Message CameraMessageBuilder::MultiShot() {
    return Finish(Begin(REQUEST_TakePhoto) && AddCamera() &&
                  m_encoder->AddField(FIELD_Origin, m_origin.text) &&
                  m_encoder->AddField(FIELD_AllCameras, true));
}

Message CameraMessageBuilder::Reshoot(float bulbTime) {
    return Finish(Begin(REQUEST_Reshoot) && AddCamera() && AddPhoto() &&
                  m_encoder->AddField(FIELD_BulbTime, bulbTime) &&
                  m_encoder->AddField(FIELD_Origin, m_origin.text));
}

Message CameraMessageBuilder::AutoFocus() {
    return Finish(Begin(REQUEST_AutoFocus) && AddCamera() && AddAll());
}

Message CameraMessageBuilder::Download() { return Finish(Begin(REQUEST_Download) && AddPhoto()); }

Message CameraMessageBuilder::DownloadAll() { return Finish(Begin(REQUEST_DownloadAll)); }

Message CameraMessageBuilder::Rename(const string_t& name) {
    return Finish(Begin(REQUEST_Rename) && AddPhoto() &&
                  m_encoder->AddField(FIELD_PhotoName, name.text));
}

Message CameraMessageBuilder::Delete() { return Finish(Begin(REQUEST_Delete) && AddPhoto()); }

Message CameraMessageBuilder::EnableLiveView(bool on) {
    return Finish(Begin(REQUEST_EnableLiveView) && AddCamera() &&
                  m_encoder->AddField(FIELD_LiveView, on) && AddAll());
}

Message CameraMessageBuilder::EnableLiveViewZoom(bool on) {
    return Finish(Begin(REQUEST_LiveViewZoom) && AddCamera() &&
                  m_encoder->AddField(FIELD_LiveViewZoom, on) && AddAll());
}

Message CameraMessageBuilder::EnableLiveViewRecord(bool on) {
    return Finish(Begin(REQUEST_LiveViewRecord) && m_encoder->AddField(FIELD_LiveViewRecord, on));
}

Message CameraMessageBuilder::FocusLiveView(int step) {
    return Finish(Begin(REQUEST_LiveViewFocus) && AddCamera() &&
                  m_encoder->AddField(FIELD_LiveViewFocus, step) && AddAll());
}

Message CameraMessageBuilder::PositionLiveView(int x, int y) {
    int32_t position[2] = {x, y};
    return Finish(Begin(REQUEST_LiveViewPosition) && AddCamera() &&
                  m_encoder->AddData(FIELD_LiveViewPosition, position, 4, 2));
}

Message CameraMessageBuilder::EnableDof(bool on) {
    return Finish(Begin(REQUEST_EnableDof) && AddCamera() && m_encoder->AddField(FIELD_Dof, on) &&
                  AddAll());
}

Message CameraMessageBuilder::EnableVideo(bool on) {
    return Finish(Begin(REQUEST_EnableVideo) && AddCamera() &&
                  m_encoder->AddField(FIELD_Video, on) && AddAll());
}

Message CameraMessageBuilder::SetProperty(CameraProperty::Type type, unsigned long value) {
    uint32_t property = type;
    uint32_t index = uint32_t(value);
    return Finish(Begin(REQUEST_SetProperty) && AddCamera() &&
                  m_encoder->AddData(FIELD_PropertyType, &property, 4, 1) &&
                  m_encoder->AddData(FIELD_PropertyValue, &index, 4, 1) && AddAll());
}

Message CameraMessageBuilder::SetName(const stringid_t& serial, const string_t& name) {
    return Finish(Begin(REQUEST_SetName) && m_encoder->AddField(FIELD_CameraName, name.text) &&
                  m_encoder->AddField(FIELD_CameraSerial, serial.text) &&
                  (m_camera.number < 0 || AddCamera()));
}

Message CameraMessageBuilder::SetOptions(const pathname_t& downloadPath,
                                         const pathname_t& liveViewPath, int liveViewLimit,
                                         const string_t& expression, const string_t& validation,
                                         const string_t& applicationName, const string_t& uniqueTag,
                                         bool generateFilename, bool autoConnect,
                                         bool scanSequenceNum, bool scanBatchNum,
                                         const string_t& defaultStorage) {
    MessageEncoder* e = m_encoder;
    return Finish(Begin(REQUEST_SetOptions) &&
                  e->AddField(FIELD_DownloadPath, downloadPath.path.view.text) &&
                  e->AddField(FIELD_LiveViewPath, liveViewPath.path.view.text) &&
                  e->AddField(FIELD_LiveViewLimit, liveViewLimit) &&
                  e->AddField(FIELD_FilenameExpression, expression.text) &&
                  e->AddField(FIELD_FilenameValidation, validation.text) &&
                  e->AddField(FIELD_ApplicationName, applicationName.text) &&
                  e->AddField(FIELD_UniqueTag, uniqueTag.text) &&
                  e->AddField(FIELD_GenerateFilename, generateFilename) &&
                  e->AddField(FIELD_AutoConnect, autoConnect) &&
                  e->AddField(FIELD_ScanSequenceNum, scanSequenceNum) &&
                  e->AddField(FIELD_ScanBatchNum, scanBatchNum) &&
                  e->AddField(FIELD_DefaultStorage, defaultStorage.text));
}

Message CameraMessageBuilder::SetSequenceNum(int sequenceNum) {
    return Finish(Begin(REQUEST_SetSequenceNum) &&
                  m_encoder->AddField(FIELD_SequenceNum, sequenceNum));
}

Message CameraMessageBuilder::SetBatchNum(int batchNum) {
    return Finish(Begin(REQUEST_SetBatchNum) && m_encoder->AddField(FIELD_BatchNum, batchNum));
}

Message CameraMessageBuilder::Rollback() { return Finish(Begin(REQUEST_Rollback) && AddPhoto()); }

CameraMessageSender::CameraMessageSender(MessageProcessor* sender, const CameraDataSurface& surface)
    : CameraMessageBuilder(sender->GetEncoder(), surface), m_sender(sender),
      m_destination(surface.processorLocation) {}

bool CameraMessageSender::DetectCameras() { return Send(CameraMessageBuilder::DetectCameras()); }

bool CameraMessageSender::Send(Message message) {
    return message.IsValid() && m_sender->SendRequest(message, m_destination);
}

} // namespace velk
