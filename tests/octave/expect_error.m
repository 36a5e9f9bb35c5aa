function expect_error (fn, id)
  % Calls fn and fails unless it raises an error whose identifier is id.
  try
    fn ();
  catch err
    if (! strcmp (err.identifier, id))
      error ("regmex:test", "expected error %s, got %s: %s", id, err.identifier, err.message);
    end
    return;
  end
  error ("regmex:test", "expected error %s, but the call succeeded", id);
end
