#pragma once

namespace Detector {

class PPNRDetector;
class BSLayeredDetector;

// Double dispatch over the concrete detector models.
class IDetectorVisitor {
  public:
    virtual ~IDetectorVisitor() = default;
    virtual void visit(const PPNRDetector& detector) = 0;
    virtual void visit(const BSLayeredDetector& detector) = 0;
};

}  // namespace Detector
