#include "watchdog/server_identity.h"

#include "config/registered_command.h"

bool ServerIdentity::IsServer(std::uint32_t processId, const ProcessImage& image) {
  // A process whose image, or the registered file, cannot be read still counts, as it
  // did before.
  if (launcher_ || image.match != ProcessImage::Match::kOtherProgram) {
    return true;
  }
  // No user can make the SCM name their process as the service's.
  if (processId == ServiceProcessId()) {
    return true;
  }
  // An ImagePath changed since the start: the restarts follow it after the next start
  // of this service, but the server that runs it counts from now on.
  const std::string& imagePath = ImagePathNow();
  if (imagePath.empty() || imagePath == registeredCommand_) {
    return false;
  }
  return !NamesWatchedImage(imagePath) || platform_.InspectProcess(processId, imagePath).match ==
                                              ProcessImage::Match::kRegisteredProgram;
}

std::uint32_t ServerIdentity::ServiceProcessId() {
  if (!serviceAsked_) {
    serviceAsked_ = true;
    serviceProcessId_ = platform_.WatchedServiceProcessId();
  }
  return serviceProcessId_;
}

const std::string& ServerIdentity::ImagePathNow() {
  if (!imagePathRead_) {
    imagePathRead_ = true;
    if (!platform_.ReadImagePath(imagePathNow_)) {
      imagePathNow_.clear();
    }
  }
  return imagePathNow_;
}
