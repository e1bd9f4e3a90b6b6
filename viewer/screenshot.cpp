#include "screenshot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <vtkPNGWriter.h>
#include <vtkRenderWindow.h>
#include <vtkSmartPointer.h>
#include <vtkWindowToImageFilter.h>

namespace litterview {

bool saveScreenshot(pcl::visualization::PCLVisualizer& viewer, const std::string& png_path) {
  // VTK's writer reports a file it cannot create only through its own error window.
  std::FILE* probe = std::fopen(png_path.c_str(), "wb");
  if (probe == nullptr) {
    std::fprintf(stderr, "litterview: cannot write the screenshot \"%s\": %s\n", png_path.c_str(),
                 std::strerror(errno));
    return false;
  }
  std::fclose(probe);

  // A frame-rate counter would make every screenshot of the same scene differ.
  viewer.setShowFPS(false);
  vtkRenderWindow* window = viewer.getRenderWindow();
  window->Render();
  auto image = vtkSmartPointer<vtkWindowToImageFilter>::New();
  image->SetInput(window);
  image->ReadFrontBufferOff();
  image->Update();
  auto writer = vtkSmartPointer<vtkPNGWriter>::New();
  writer->SetFileName(png_path.c_str());
  writer->SetInputConnection(image->GetOutputPort());
  writer->Write();
  if (writer->GetErrorCode() != 0) {
    std::fprintf(stderr, "litterview: writing the screenshot \"%s\" failed\n", png_path.c_str());
    return false;
  }
  return true;
}

}  // namespace litterview
