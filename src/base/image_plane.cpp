#include "base/image_plane.h"

int32_t hsize = 0;
int32_t vsize = 0;
int32_t resolution = 0;
ImagePlane value;
ImagePlane value_bckg;

ImagePlane::ImagePlane(std::shared_ptr<const void> owner, const unsigned char* samples,
                       size_t count)
    : owner_(std::move(owner)), samples_(samples), count_(count)
{
}

ImagePlane::ImagePlane(const ImagePlane& other)
    : owner_(other.owner_), held_(other.held_), count_(other.count_)
{
    samples_ = owner_ ? other.samples_ : held_.data();
}

ImagePlane::ImagePlane(ImagePlane&& other) noexcept
    : owner_(std::move(other.owner_)), held_(std::move(other.held_)),
      samples_(other.samples_), count_(other.count_)
{
    other.samples_ = nullptr;
    other.count_ = 0;
}

ImagePlane& ImagePlane::operator=(ImagePlane other) noexcept
{
    owner_ = std::move(other.owner_);
    held_ = std::move(other.held_);
    samples_ = other.samples_;
    count_ = other.count_;
    other.samples_ = nullptr;
    other.count_ = 0;
    return *this;
}

unsigned char* ImagePlane::Own()
{
    if (owner_) {
        held_.assign(samples_, samples_ + 2 * count_);
        owner_.reset();
    }
    samples_ = held_.data();
    return held_.data();
}

void ImagePlane::set(size_t index, uint16_t sample)
{
    Store_sample(Own(), index, sample);
}

void ImagePlane::assign(size_t count, uint16_t sample)
{
    owner_.reset();
    held_.resize(2 * count);
    for (size_t i = 0; i < count; ++i) Store_sample(held_.data(), i, sample);
    samples_ = held_.data();
    count_ = count;
}

void ImagePlane::resize(size_t count)
{
    Own();
    held_.resize(2 * count, 0);
    samples_ = held_.data();
    count_ = count;
}

void ImagePlane::clear()
{
    owner_.reset();
    std::vector<unsigned char>().swap(held_);
    samples_ = nullptr;
    count_ = 0;
}
