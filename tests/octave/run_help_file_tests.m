% Runs the tests in a function's help file as a user would, `test korvane`,
% with the module folder on the path; fails on any failing test, on fewer
% than five, and when the name resolves to the help file instead of the
% module. The function is korvane unless named.
%   octave-cli --no-gui --norc --no-history -q tests/octave/run_help_file_tests.m <module folder> [name]
args = argv();
addpath(args{1});
name = 'korvane';
if numel(args) >= 2
  name = args{2};
end
[~, ~, extension] = fileparts(which(name));
[passed, total] = test(name, 'quiet', stdout);
printf('test %s: %d of %d passed; %s is the %s file\n', name, passed, total, name, extension);
exit(passed < total || total < 5 || strcmp(extension, '.m'));
