#include "platform/win/audio/wasapi_device.h"

// clang-format off
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
// clang-format on

namespace platform::win {

Status ActivateDefaultOutput(ComPtr<IAudioClient>& client) {
  UseMultithreadedApartment();
  ComPtr<IMMDeviceEnumerator> devices;
  if (const HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                          __uuidof(IMMDeviceEnumerator), devices.PutVoid());
      FAILED(hr)) {
    return Status::Error("no audio device: the sound system does not answer: " + HresultText(hr));
  }
  ComPtr<IMMDevice> device;
  if (const HRESULT hr = devices->GetDefaultAudioEndpoint(eRender, eConsole, device.Put());
      FAILED(hr)) {
    if (hr == E_NOTFOUND) return Status::Error("no audio device: none found");
    return Status::Error("no audio device: " + HresultText(hr));
  }
  if (const HRESULT hr =
          device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.PutVoid());
      FAILED(hr)) {
    return Status::Error("no audio device: the default output does not open: " + HresultText(hr));
  }
  return Status::Ok();
}

Status CheckDefaultOutput() {
  ComPtr<IAudioClient> client;
  if (Status found = ActivateDefaultOutput(client); !found) return found;
  // A device that cannot say what it mixes in cannot be played into either.
  WAVEFORMATEX* mix = nullptr;
  if (const HRESULT hr = client->GetMixFormat(&mix); FAILED(hr) || mix == nullptr) {
    return Status::Error("no audio device: the default output has no format: " + HresultText(hr));
  }
  CoTaskMemFree(mix);
  return Status::Ok();
}

}  // namespace platform::win
